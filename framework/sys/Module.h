// The module (DLL or program) this code is linked into.
#pragma once

#include <windows.h>

// Instance handle of the module that holds this code, also inside a DLL.
HINSTANCE ModuleInstance();

// A function of a loaded module, looked up at run time and typed; null when
// the module lacks it. `name` may be an ordinal (MAKEINTRESOURCEA).
template <typename Function>
Function ProcAddress(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
