// Whether only the machine's administrators can change a file or folder: a
// machine-wide registration runs its program for every user, so a program
// that a user can rewrite, or reach by another path, must never be
// registered for the machine.
#pragma once

#include <windows.h>

// What lets an account change a file, or put files into a folder: the
// program file and its folder.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
    WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// What lets an account rename a folder above it (or one of its children) or
// change who may: every folder up to the volume's root. Adding files there
// changes nothing below (every user may make folders in C:\).
constexpr ACCESS_MASK kRenameRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// nullptr when the owner of path and every allow entry of its DACL that
// grants one of rights name only Administrators, SYSTEM or TrustedInstaller;
// else why not: "owner", "no DACL", "writable by another account" or
// "unreadable" (the security descriptor cannot be read).
const char* AdminOnlyFault(const wchar_t* path, ACCESS_MASK rights = kChangeRights);
// The same for a security descriptor with its owner and DACL.
const char* AdminOnlyFault(PSECURITY_DESCRIPTOR descriptor, ACCESS_MASK rights);

// nullptr when the program at path, and every folder from it up to its
// volume's root, is the administrators' alone (the program and its folder
// against kChangeRights, the folders above against kRenameRights) and the
// path passes no junction or symbolic link (it is the final path of the
// opened file); else why not, and what in what.
const char* AdminOnlyProgramFault(const wchar_t* path, const char*& what);
