// Conversions between the module's 8-bit strings (the ANSI code page) and the
// UTF-16 strings of COM, and a few texts COM wants in its own allocations.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

// A string resource of this module as it is stored: not terminated.
struct ResourceText {
    const wchar_t* text;
    UINT length;
};

std::string AnsiFromWide(const wchar_t* text, size_t length);
// A terminated text into a buffer of outSize bytes; false (traced) when it
// does not fit or cannot be converted.
bool CopyAnsiFromWide(const wchar_t* text, char* out, size_t outSize);
std::string AnsiFromBstr(BSTR text);
std::string AnsiFromResource(const ResourceText& text);
// A new BSTR, owned by the caller; null when out of memory.
BSTR BstrFromAnsi(const std::string& text);
// A terminated copy in CoTaskMemAlloc'ed memory; null when out of memory.
LPOLESTR CoTaskMemCopy(const ResourceText& text);
// "{XXXXXXXX-XXXX-...}"
std::string GuidText(REFGUID guid);
// Empty (length 0) when the module has no such string.
ResourceText LoadResourceText(UINT id);
