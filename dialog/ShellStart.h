// Programs the update dialog starts through the shell: each from its own
// folder as its current one, never the host's (often the downloads folder,
// where planted libraries may wait).
#pragma once

#include <windows.h>

#include <string>

// Starts the program at path and returns once it has been started
// (SEE_MASK_NOASYNC): the caller holds the file until then, so nobody can
// swap it in between. Its process, when the shell gives one, for an owner
// that waits for it; null otherwise (the failure is traced).
HANDLE StartFromItsFolder(const std::string& path);

// The program by its bare file name, where installed programs are found
// (FindInstalledProgram). When there is none that is no news for the user,
// and a shell error box here would hold up what follows: nothing starts and
// nothing is shown.
void StartInstalledProgram(const std::string& exeName);
