// The log's file: plain Win32 calls, looked up at run time where a system of
// the product's range may lack them, so that no system fails to load the
// module for its log's sake.
#include "support/TraceLog.h"

#include <windows.h>

#include <shlobj.h>

#include <utility>

namespace {

constexpr wchar_t kFolderTail[] = L"\\Vantorima\\Logs";
constexpr wchar_t kLogName[] = L"\\vantorima.log";
constexpr wchar_t kOldLogName[] = L"\\vantorima.old.log";
// How long a line waits for another process's line or rotation; then it is
// written all the same.
constexpr DWORD kLockWait = 200;
// The low-integrity processes' mandatory level is below this one.
constexpr DWORD kMediumIntegrity = 0x2000;
// KF_FLAG_CREATE, and FOLDERID_LocalAppDataLow.
constexpr DWORD kCreateFolder = 0x00008000;
constexpr GUID kLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

// Found once per process: the family, the files' names (wide on NT, ANSI on
// Windows 9x, whose wide calls fail) and the rotation's mutex.
enum : LONG { kUnknown, kFinding, kFound, kNone };
volatile LONG g_state = kUnknown;
bool g_nt = true;
wchar_t g_folder[MAX_PATH];
wchar_t g_log[MAX_PATH];
wchar_t g_oldLog[MAX_PATH];
char g_folderA[MAX_PATH];
char g_logA[MAX_PATH];
char g_oldLogA[MAX_PATH];
// Low-integrity processes keep a log of their own, and a mutex of their own:
// they may not use one that a medium process made.
bool g_low = false;
// The log's mutex, made once: the lines of every process take turns, for an
// append is one write only where the file system makes it so (not on Windows
// 9x, a network share, nor under Wine, which finds the end, then writes).
HANDLE g_mutex = nullptr;
struct MutexClose {
    ~MutexClose()
    {
        if (g_mutex)
            CloseHandle(g_mutex);
    }
} g_mutexClose;

// A function of a system library, by name (none where the system lacks it).
template <typename Function>
Function Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool LowIntegrity()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    // TokenIntegrityLevel: before Vista the call fails, and every process is
    // as good as medium.
    alignas(void*) BYTE buffer[64];
    DWORD size = 0;
    bool low = false;
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        low = count > 0 && *GetSidSubAuthority(sid, count - 1) < kMediumIntegrity;
    }
    CloseHandle(token);
    return low;
}

HMODULE Shell32()
{
    // Both programs import it; a system library by the KnownDLLs otherwise.
    const HMODULE loaded = GetModuleHandleW(L"shell32.dll");
    return loaded ? loaded : LoadLibraryW(L"shell32.dll");
}

bool LocalLowFolder(wchar_t* folder)
{
    using GetKnownFolder = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
    using FreeMemory = void(WINAPI*)(void*);
    const HMODULE shell = Shell32();
    HMODULE com = GetModuleHandleW(L"ole32.dll");
    if (!com)
        com = LoadLibraryW(L"ole32.dll");
    if (!shell || !com)
        return false;
    const auto known = Proc<GetKnownFolder>(shell, "SHGetKnownFolderPath");
    const auto release = Proc<FreeMemory>(com, "CoTaskMemFree");
    PWSTR path = nullptr;
    if (!known || !release || FAILED(known(kLocalAppDataLow, kCreateFolder, nullptr, &path)) || !path)
        return false;
    const bool fits = lstrlenW(path) < MAX_PATH;
    if (fits)
        lstrcpyW(folder, path);
    release(path);
    return fits;
}

bool LocalFolderNt(wchar_t* folder)
{
    using GetFolder = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
    if (const HMODULE shell = Shell32()) {
        const auto get = Proc<GetFolder>(shell, "SHGetFolderPathW");
        if (get && SUCCEEDED(get(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder)))
            return true;
    }
    for (const wchar_t* name : {L"LOCALAPPDATA", L"USERPROFILE"}) {
        const DWORD n = GetEnvironmentVariableW(name, folder, MAX_PATH);
        if (n != 0 && n < MAX_PATH)
            return true;
    }
    const DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH)
        return false;
    folder[n - 1] = L'\0';  // its trailing backslash
    return true;
}

// Windows 9x: no LocalLow and no integrity levels; the shell's folder where
// the shell has one (Internet Explorer 5 and later), else the profile, else
// the Windows folder, which is the profile of a system without profiles.
bool LocalFolder9x(char* folder)
{
    using GetFolder = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    HMODULE shell = GetModuleHandleA("shell32.dll");
    if (!shell)
        shell = LoadLibraryA("shell32.dll");
    if (shell) {
        const auto get = Proc<GetFolder>(shell, "SHGetFolderPathA");
        if (get && SUCCEEDED(get(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder)))
            return true;
    }
    for (const char* name : {"LOCALAPPDATA", "USERPROFILE"}) {
        const DWORD n = GetEnvironmentVariableA(name, folder, MAX_PATH);
        if (n != 0 && n < MAX_PATH)
            return true;
    }
    const UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
    return n != 0 && n < MAX_PATH;
}

bool Join(wchar_t* out, const wchar_t* folder, const wchar_t* tail)
{
    if (lstrlenW(folder) + lstrlenW(tail) >= MAX_PATH)
        return false;
    lstrcpyW(out, folder);
    lstrcatW(out, tail);
    return true;
}

// Vantorima, then Logs under the per-user folder; those that exist already
// fail harmlessly.
void MakeFolders()
{
    if (g_nt) {
        wchar_t parent[MAX_PATH];
        lstrcpyW(parent, g_folder);
        *(parent + lstrlenW(parent) - (sizeof "\\Logs" - 1)) = L'\0';
        CreateDirectoryW(parent, nullptr);
        CreateDirectoryW(g_folder, nullptr);
    } else {
        char parent[MAX_PATH];
        lstrcpyA(parent, g_folderA);
        *(parent + lstrlenA(parent) - (sizeof "\\Logs" - 1)) = '\0';
        CreateDirectoryA(parent, nullptr);
        CreateDirectoryA(g_folderA, nullptr);
    }
}

bool FindBase(wchar_t* base)
{
    g_nt = static_cast<LONG>(GetVersion()) >= 0;
    if (g_nt) {
        g_low = LowIntegrity();
        return (g_low && LocalLowFolder(base)) || LocalFolderNt(base);
    }
    char baseA[MAX_PATH];
    return LocalFolder9x(baseA) && MultiByteToWideChar(CP_ACP, 0, baseA, -1, base, MAX_PATH);
}

// The files' names under base\Vantorima\Logs.
bool NameFiles(wchar_t* base)
{
    const int n = lstrlenW(base);
    if (n > 0 && base[n - 1] == L'\\')
        base[n - 1] = L'\0';
    if (!Join(g_folder, base, kFolderTail) || !Join(g_log, g_folder, kLogName) ||
        !Join(g_oldLog, g_folder, kOldLogName))
        return false;
    if (!g_nt) {
        for (auto [wide, ansi] :
             {std::pair<const wchar_t*, char*>{g_folder, g_folderA}, {g_log, g_logA}, {g_oldLog, g_oldLogA}}) {
            if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, MAX_PATH, nullptr, nullptr))
                return false;
        }
    }
    MakeFolders();
    return true;
}

bool Found()
{
    LONG state = g_state;
    if (state == kUnknown && InterlockedCompareExchange(&g_state, kFinding, kUnknown) == kUnknown) {
        wchar_t base[MAX_PATH];
        state = FindBase(base) && NameFiles(base) ? kFound : kNone;
        if (state == kFound)
            g_mutex = g_nt ? CreateMutexW(nullptr, FALSE, g_low ? L"VantorimaLogLow" : L"VantorimaLog")
                           : CreateMutexA(nullptr, FALSE, "VantorimaLog");
        InterlockedExchange(&g_state, state);
    }
    // Another thread is finding them: a moment, once. Not for ever: that one
    // may wait for a lock that this one holds (the loader's), and then this
    // line goes without the log.
    for (int i = 0; state == kFinding && i < 500; ++i) {
        Sleep(1);
        state = g_state;
    }
    return state == kFound;
}

HANDLE OpenLog()
{
    // Appending only: every WriteFile lands whole at the end, whoever else
    // writes; deleting shared, so that another process can move the file
    // while this one has it open (Windows 9x knows no such sharing, nor
    // appending: the end is sought before each write there).
    if (!g_nt)
        return CreateFileA(g_logA, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return CreateFileW(g_log, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

ULONGLONG SizeByName()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    const BOOL ok = g_nt ? GetFileAttributesExW(g_log, GetFileExInfoStandard, &data)
                         : GetFileAttributesExA(g_logA, GetFileExInfoStandard, &data);
    return ok ? (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
}

// Whether this thread now holds the log's mutex: not when there is none
// (another user's of the same name, a system that refuses it) or it did not
// come in time.
bool LockLog()
{
    if (!g_mutex)
        return false;
    const DWORD wait = WaitForSingleObject(g_mutex, kLockWait);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// The log becomes the old log. Under the mutex the size is looked at again
// by name: of two processes that found the log full at once, the second one
// finds the new log that the first one left and keeps it, so that no full
// log replaces the old one before anyone read it. A line that a process
// without the mutex writes meanwhile through a handle it opened before lands
// at the end of the old log: late, not lost.
void Rotate(size_t length)
{
    if (SizeByName() + length <= kTraceLogLimit)
        return;
    if (g_nt) {
        MoveFileExW(g_log, g_oldLog, MOVEFILE_REPLACE_EXISTING);
    } else {
        DeleteFileA(g_oldLogA);
        MoveFileA(g_logA, g_oldLogA);
    }
}

}  // namespace

void AppendToTraceLog(const char* program, const char* text, size_t length)
{
    const DWORD lastError = GetLastError();
    if (Found()) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        const TraceLogTime when = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                                   now.wMinute, now.wSecond, now.wMilliseconds};
        char line[kTraceLogLineMax];
        const size_t size = FormatTraceLogLine(line, sizeof line, when, GetCurrentProcessId(), program, text, length);
        const bool locked = LockLog();
        HANDLE file = OpenLog();
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
            MakeFolders();  // someone removed them since
            file = OpenLog();
        }
        if (file != INVALID_HANDLE_VALUE) {
            DWORD high = 0;
            const DWORD low = GetFileSize(file, &high);
            if (low != INVALID_FILE_SIZE &&
                (high != 0 || (low != 0 && static_cast<ULONGLONG>(low) + size > kTraceLogLimit))) {
                CloseHandle(file);
                Rotate(size);
                file = OpenLog();
            }
        }
        if (file != INVALID_HANDLE_VALUE) {
            if (!g_nt)
                SetFilePointer(file, 0, nullptr, FILE_END);
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
            CloseHandle(file);
        }
        if (locked)
            ReleaseMutex(g_mutex);
    }
    SetLastError(lastError);
}

const wchar_t* TraceLogFolder()
{
    return Found() ? g_folder : L"";
}

bool TraceLogUseFolder(const wchar_t* folder)
{
    if (!Found() || lstrlenW(folder) >= MAX_PATH)
        return false;
    wchar_t base[MAX_PATH];
    lstrcpyW(base, folder);
    return NameFiles(base);
}
