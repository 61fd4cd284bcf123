// Whether only the machine's administrators can change a file or folder: a
// machine-wide registration runs its program for every user, so a program
// that a user can rewrite must never be registered for the machine.
#pragma once

#include <windows.h>

// nullptr when the owner of path and every allow entry of its DACL that
// grants a right to change it (write, append, delete, delete a child, change
// the DACL or the owner) name only Administrators, SYSTEM or TrustedInstaller;
// else why not: "owner", "no DACL", "writable by another account" or
// "unreadable" (the security descriptor cannot be read).
const char* AdminOnlyFault(const wchar_t* path);
