// Closes running copies of the client before its installer is downloaded.
#pragma once

#include <windows.h>

#include <string>

constexpr const char kClientExeName[] = "Marovent.exe";

// Looks for running processes named exactly `name`, gives them four passes
// 500 ms apart to end by themselves, then asks the user (boxes owned by
// `dialog`) and terminates the first one that opens.
//   1: one instance was terminated
//   0: none runs (or the name is empty, or none could be opened)
//  -1: the user declined, or terminating failed
int KillProcess(HWND dialog, const std::string& name);
