// The handler's own file and the version block of a program file.
#pragma once

#include <windows.h>

#include "framework/sys/WideText.h"

// The running program's full path; empty text (traced) when the system
// cannot tell it.
WideText ProgramPath();

// What a program file says it is: its processor, and from the version
// resource in its resource directory (RT_VERSION 1, the first language) its
// file version (FILEVERSION, most significant part first) and the first
// string table's OriginalFilename and ProductName. 0 or empty where the file
// has none.
struct ProgramIdentity {
    WORD machine = 0;
    unsigned long long version = 0;
    WideText originalFilename, productName;  // terminated
};

// A program's file version, or 0 when it has none. Null: the running program.
unsigned long long ProgramVersion(const wchar_t* path);
// The identity through an open file (read from its start).
ProgramIdentity OpenProgramIdentity(HANDLE file);

// "a.b.c.d"
WideText VersionText(unsigned long long version);

// Whether the running program is the file at path (as the system named it
// when it started the program).
bool RunsFrom(const WideText& path);
