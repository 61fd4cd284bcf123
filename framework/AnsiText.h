// Conversions between the module's 8-bit strings (the ANSI code page) and the
// UTF-16 strings of COM, and a few texts COM wants in its own allocations.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

std::string AnsiFromWide(const wchar_t* text, size_t length);
std::string AnsiFromBstr(BSTR text);
std::wstring WideFromAnsi(const std::string& text);
// Null when out of memory.
BSTR BstrFromAnsi(const std::string& text);
// A copy in CoTaskMemAlloc'ed memory; null when out of memory.
LPOLESTR CoTaskMemCopy(const std::wstring& text);
// "{XXXXXXXX-XXXX-...}"
std::string GuidText(REFGUID guid);
// A string resource of this module.
std::wstring LoadWideString(UINT id);
std::string ModuleFileName();
