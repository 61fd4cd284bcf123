// The module (DLL or program) this code is linked into.
#pragma once

#include <windows.h>

#include <string>

// Instance handle of the module that holds this code, also inside a DLL.
HINSTANCE ModuleInstance();

// The full path of a module's file, by default this one's: ERROR_SUCCESS, or
// why not (a path of MAX_PATH characters or more is ERROR_INSUFFICIENT_BUFFER);
// a failure is traced and leaves path empty.
DWORD ModuleFileName(std::string& path, HMODULE module = ModuleInstance());
// The wide form, terminated (empty on failure); no wide string type in what ships.
DWORD ModuleFileName(wchar_t (&path)[MAX_PATH], HMODULE module = ModuleInstance());

// A library of Windows' own from the system folder alone, never from the
// program's folder, the current one or the PATH (where a download or another
// program may have put one of the same name); an activation context's
// redirection (comctl32 version 6) still applies. Null when it cannot be
// loaded (the last error says why).
HMODULE LoadSystemLibrary(const wchar_t* name);

// A function of a loaded module, looked up at run time and typed; null when
// the module lacks it. `name` may be an ordinal (MAKEINTRESOURCEA).
template <typename Function>
Function ProcAddress(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
