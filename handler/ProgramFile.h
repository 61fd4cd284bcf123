// The handler's own file and the version block of a program file.
#pragma once

#include "framework/sys/WideText.h"

// The running program's full path; empty text (traced) when the system
// cannot tell it.
WideText ProgramPath();

// A program's file version from its version block (FILEVERSION, most
// significant part first), or 0 when it has none. Null: the running program.
unsigned long long ProgramVersion(const wchar_t* path);
// The same through an open file (read from its start).
unsigned long long OpenProgramVersion(HANDLE file);

// "a.b.c.d"
WideText VersionText(unsigned long long version);

// Whether the running program is the file at path (as the system named it
// when it started the program).
bool RunsFrom(const WideText& path);
