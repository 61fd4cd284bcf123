// The module (DLL or program) this code is linked into.
#pragma once

#include <windows.h>

// Instance handle of the module that holds this code, also inside a DLL.
HINSTANCE ModuleInstance();
