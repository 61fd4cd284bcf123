// Text conversions, all of them: between the module's 8-bit strings (the
// ANSI code page), UTF-8, the UTF-16 text of the system's wide calls and the
// BSTRs of COM.
//
// Three files hold them, by what links them: AnsiText.cpp (ANSI and wide),
// AnsiTextBstr.cpp (BSTRs: the only ones that need oleaut32) and
// AnsiTextUtf8.cpp (UTF-8). A program takes only the files it calls into.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "framework/sys/WideText.h"

std::string AnsiFromWide(const wchar_t* text, size_t length);
// A terminated text into a buffer of outSize bytes; false (traced) when it
// does not fit or cannot be converted.
bool CopyAnsiFromWide(const wchar_t* text, char* out, size_t outSize);
// A terminated ANSI text as terminated wide text.
WideText WideFromAnsi(const char* text);

std::string AnsiFromBstr(BSTR text);
// A new BSTR, owned by the caller; null when out of memory.
BSTR BstrFromAnsi(const std::string& text);

// UTF-8 -> the ANSI code page (or codePage); false when the text is not
// valid UTF-8 or a character has no exact counterpart there.
bool AnsiFromUtf8(const std::string& utf8, std::string& ansi, UINT codePage = CP_ACP);
// A terminated wide text as UTF-8; false when that is not exact (a lone
// surrogate, which turns into U+FFFD).
bool Utf8FromWide(const wchar_t* text, std::string& utf8);
