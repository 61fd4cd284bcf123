#include "framework/sys/Module.h"

#include "framework/sys/Result.h"

// The linker places this at the start of the module's own image.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

namespace {

// One call of the A or W kind. A length of MAX_PATH is a path cut short (XP
// does not even terminate it).
template <typename Char>
DWORD FileNameOf(HMODULE module, Char (&buffer)[MAX_PATH], DWORD(WINAPI* get)(HMODULE, Char*, DWORD), DWORD& length)
{
    length = get(module, buffer, MAX_PATH);
    DWORD error = LAST_ERROR_CODE_IF(length == 0);
    if (!error)
        error = LOG_IF_WIN32_ERROR(length >= MAX_PATH ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
    if (error)
        length = 0;
    buffer[length] = 0;
    return error;
}

}  // namespace

DWORD ModuleFileName(std::string& path, HMODULE module)
{
    char buffer[MAX_PATH];
    DWORD length = 0;
    const DWORD error = FileNameOf(module, buffer, &GetModuleFileNameA, length);
    path.assign(buffer, length);
    return error;
}

DWORD ModuleFileName(wchar_t (&path)[MAX_PATH], HMODULE module)
{
    DWORD length = 0;
    return FileNameOf(module, path, &GetModuleFileNameW, length);
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // Windows 7 without KB2533623 knows no search flags: the system folder's
    // file by its full path, whose own libraries are then looked for there.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 1 + lstrlenW(name) >= MAX_PATH)
        return nullptr;
    path[length] = L'\\';
    lstrcpyW(path + length + 1, name);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
