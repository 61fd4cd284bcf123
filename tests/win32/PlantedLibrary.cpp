// A library planted beside a program under the name of one of Windows' own:
// when any process loads it, it appends its own path to the file that
// VANTORIMA_PLANTED_RECORD names, and refuses to load.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char record[MAX_PATH], path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH - 2);
    if (GetEnvironmentVariableA("VANTORIMA_PLANTED_RECORD", record, MAX_PATH) - 1 < MAX_PATH - 1 && length) {
        const HANDLE file =
            CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            path[length] = '\n';
            DWORD written = 0;
            WriteFile(file, path, length + 1, &written, nullptr);
            CloseHandle(file);
        }
    }
    return FALSE;
}
