#include "framework/sys/Module.h"

#include "framework/sys/Result.h"

// The linker places this at the start of the module's own image.
extern "C" IMAGE_DOS_HEADER __ImageBase;

HINSTANCE ModuleInstance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

namespace {

// A length of MAX_PATH is a path cut short (XP does not even terminate it).
DWORD CheckedLength(DWORD length)
{
    if (const DWORD error = LAST_ERROR_CODE_IF(length == 0))
        return error;
    return LOG_IF_WIN32_ERROR(length >= MAX_PATH ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS);
}

}  // namespace

DWORD ModuleFileName(std::string& path, HMODULE module)
{
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, buffer, MAX_PATH);
    const DWORD error = CheckedLength(length);
    path.assign(buffer, error ? 0 : length);
    return error;
}

DWORD ModuleFileName(std::wstring& path, HMODULE module)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
    const DWORD error = CheckedLength(length);
    path.assign(buffer, error ? 0 : length);
    return error;
}
