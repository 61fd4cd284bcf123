// The launcher's installation of itself, per user and without rights: its
// bytes in %LOCALAPPDATA%\Programs\Vantorima\VantorimaLaunch.exe, the link
// scheme registered per user for that copy, and the uninstall entry.
// Nothing under HKLM.
#pragma once

#include "framework/sys/WideText.h"

inline constexpr char kUninstallEntryPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantorima";

// %LOCALAPPDATA%\Programs\Vantorima, and the program in it; empty when the
// per-user folder is unknown.
WideText InstallFolder();
WideText InstalledProgram();

// /install [/quiet]: copies this program there unless an installed copy is
// as new or newer (that one is kept and used), registers, writes the
// uninstall entry. On a failure takes back what it wrote. kExitLaunched or
// kExitRegistration; one box unless quiet, and a trace line.
int InstallSelf(bool quiet);

// /uninstall [/quiet]: the scheme's per-user registration (when it names the
// installed copy), the uninstall entry, the nonce ledger, the installed
// program and its folder. A running installed copy cannot delete its own
// file: a copy of it in the temporary folder, deleted when it closes, waits
// for this process to end and removes the files (FinishUninstall).
int UninstallSelf(bool quiet);

// The temporary copy's part: waits on the process handle it inherited
// (given as a number), then removes the installed files.
int FinishUninstall(const wchar_t* processHandle);
