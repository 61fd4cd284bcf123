// Conversions between the module's 8-bit strings (the ANSI code page) and the
// UTF-16 strings of COM.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

std::string AnsiFromWide(const wchar_t* text, size_t length);
// A terminated text into a buffer of outSize bytes; false (traced) when it
// does not fit or cannot be converted.
bool CopyAnsiFromWide(const wchar_t* text, char* out, size_t outSize);
std::string AnsiFromBstr(BSTR text);
// A new BSTR, owned by the caller; null when out of memory.
BSTR BstrFromAnsi(const std::string& text);
