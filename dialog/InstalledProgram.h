// Where an installed program is found by its bare file name, as the shell
// finds it, but never in the current directory: a host's current directory
// is often the downloads folder, where anything may have been put.
#pragma once

#include <string>

// The full path of `exeName` from its App Paths registration (the user's,
// then the machine's), else from the first absolute directory of the path
// that holds it; empty when none does.
std::string FindInstalledProgram(const std::string& exeName);
