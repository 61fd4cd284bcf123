// Libraries from the system folder only. Players run the launcher from their
// browser's download folder, where any site may have left a file named like
// a library of Windows': the program imports only libraries that Windows
// takes from its own list (KnownDLLs) and loads every other one on its first
// use from System32 (delay-loaded, handler/CMakeLists.txt). Compiled into the
// program itself, not into a library: the linker takes the load
// configuration and the delay-load helper only from the program's own objects.
#pragma once

// The program's first act: the process's default search for libraries
// becomes System32 alone (libraries that the system's own libraries load on
// our behalf too).
void UseSystemLibrariesOnly();
