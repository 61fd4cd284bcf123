// The handler's own file and the version block of a program file.
#pragma once

#include "handler/WideText.h"

// The running program's full path.
WideText ProgramPath();

// A program's file version from its version block (FILEVERSION, most
// significant part first), or 0 when it has none. Null: the running program.
unsigned long long ProgramVersion(const wchar_t* path);

// "a.b.c.d"
WideText VersionText(unsigned long long version);

// Whether two paths name the same file, by their full forms.
bool SamePath(const wchar_t* a, const wchar_t* b);
