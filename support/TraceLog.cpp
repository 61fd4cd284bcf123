// The log's file: plain Win32 calls, looked up at run time where a system of
// the product's range may lack them, so that no system fails to load the
// module for its log's sake.
#include "support/TraceLog.h"

#include <windows.h>

#include <shlobj.h>

#include <initializer_list>

namespace {

// The folders under the user's folder, one level each: both are made and
// held, and the log's folder is their whole path.
const wchar_t* const kLevels[] = {L"Vantorima", L"Logs"};
constexpr wchar_t kLogName[] = L"vantorima.log";
constexpr wchar_t kOldLogName[] = L"vantorima.old.log";
constexpr wchar_t kLockName[] = L"vantorima.lock";
// Room left in a folder's path for a file's name.
constexpr int kNameRoom = 20;
// How long a line waits, once per run, for another process's line or
// rotation (see Lock).
constexpr DWORD kLockWait = 500;
// The mandatory levels: below medium a process keeps the LocalLow log; from
// high on (an elevated administrator, a service) none.
constexpr DWORD kMediumIntegrity = 0x2000;
constexpr DWORD kHighIntegrity = 0x3000;
// KF_FLAG_CREATE, and FOLDERID_LocalAppDataLow.
constexpr DWORD kCreateFolder = 0x00008000;
constexpr GUID kLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
// ntdll's calls on an open file (every NT): a rename through the file's
// handle, on XP and 2000 too, which lack SetFileInformationByHandle; and what
// the file is, where GetFileInformationByHandle would ask the volume too
// (1.5 ms a line under Wine).
constexpr ULONG kFileStandardInformation = 5, kFileRenameInformation = 10, kFileAttributeTagInformation = 35;
struct IoStatus {
    ULONG_PTR status, information;
};
struct StandardInformation {
    LARGE_INTEGER allocated, size;
    ULONG links;
    BOOLEAN deleting, folder;
};
struct AttributeTagInformation {
    ULONG attributes, tag;
};
struct RenameInformation {
    BOOLEAN replace;
    HANDLE root;
    ULONG length;
    WCHAR name[sizeof kOldLogName / sizeof(wchar_t)];
};
using FileInformation = LONG(WINAPI*)(HANDLE, IoStatus*, void*, ULONG, ULONG);
using FinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// A function of a system library, by name (none where the system lacks it).
template <typename Function>
Function Proc(const wchar_t* library, const char* name)
{
    HMODULE module = GetModuleHandleW(library);
    if (!module)
        module = LoadLibraryW(library);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// What a file is: its attributes, its number of names and its size.
struct Facts {
    DWORD attributes, links;
    ULONGLONG size;
};

// What differs between the families, chosen once: Windows NT's wide calls,
// its links, which files are opened so as not to follow, and a rename through
// the file's handle; Windows 9x's ANSI calls (its wide ones fail) on file
// systems without links, where an open file cannot be renamed.
struct Road {
    bool (*facts)(HANDLE file, Facts& facts);
    HANDLE (*open)(const wchar_t* path, DWORD access, DWORD disposition, DWORD flags, SECURITY_ATTRIBUTES* security);
    BOOL (*makeFolder)(const wchar_t* path);
    // Makes the open, full log the old log; returns the log to write to.
    HANDLE (*rotate)(HANDLE log);
    DWORD logAccess, noFollow;
};

// The state of the log, found once per process.
enum : LONG { kUnknown, kFinding, kFound, kNone };
volatile LONG g_state = kUnknown;
const Road* g_road;
// The log's folder; empty when no folder could be named.
wchar_t g_folder[MAX_PATH];
// Held while the process lives (Windows NT): both folders, opened as what they
// are and shared without deleting, so that nobody moves or replaces them; and
// the lock's file. No lock file, no log.
HANDLE g_folders[2];
HANDLE g_lock;
// The process's own level, which labels the files it makes (Vista on).
DWORD g_level = kMediumIntegrity;
// GetFinalPathNameByHandleW (Vista on), and the log's folder as it names it;
// ntdll's NtQueryInformationFile and NtSetInformationFile.
FinalPath g_finalPath;
FileInformation g_query, g_set;
wchar_t g_final[MAX_PATH];
// The threads of the process take turns before they take the lock.
CRITICAL_SECTION g_turn;
// Whether a line waited for the lock in vain: no line waits again.
bool g_waitedInVain = false;
unsigned g_lockTimeouts = 0;

// A handle, or none (nullptr) for a failed open.
HANDLE Held(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void Release()
{
    for (HANDLE* held : {&g_folders[0], &g_folders[1], &g_lock}) {
        if (*held)
            CloseHandle(*held);
        *held = nullptr;
    }
}

struct Cleanup {
    ~Cleanup()
    {
        Release();
        if (g_state == kFound)
            DeleteCriticalSection(&g_turn);
    }
} g_cleanup;

bool FactsNt(HANDLE file, Facts& facts)
{
    IoStatus status;
    StandardInformation standard;
    AttributeTagInformation attributes;
    if (!g_query || g_query(file, &status, &standard, sizeof standard, kFileStandardInformation) < 0 ||
        g_query(file, &status, &attributes, sizeof attributes, kFileAttributeTagInformation) < 0)
        return false;
    facts = {attributes.attributes, standard.links, static_cast<ULONGLONG>(standard.size.QuadPart)};
    return true;
}

bool Facts9x(HANDLE file, Facts& facts)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    facts = {info.dwFileAttributes, info.nNumberOfLinks,
             (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow};
    return true;
}

HANDLE OpenNt(const wchar_t* path, DWORD access, DWORD disposition, DWORD flags, SECURITY_ATTRIBUTES* security)
{
    return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security, disposition,
                       flags, nullptr);
}

HANDLE Open9x(const wchar_t* path, DWORD access, DWORD disposition, DWORD flags, SECURITY_ATTRIBUTES*)
{
    char ansi[MAX_PATH];
    if (!WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, MAX_PATH, nullptr, nullptr))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(ansi, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, flags, nullptr);
}

BOOL MakeFolderNt(const wchar_t* path)
{
    return CreateDirectoryW(path, nullptr);
}

BOOL MakeFolder9x(const wchar_t* path)
{
    char ansi[MAX_PATH];
    return WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, MAX_PATH, nullptr, nullptr) &&
        CreateDirectoryA(ansi, nullptr);
}

// folder\name in out, when it fits.
bool Join(wchar_t* out, const wchar_t* folder, const wchar_t* name)
{
    if (lstrlenW(folder) + 1 + lstrlenW(name) >= MAX_PATH)
        return false;
    lstrcpyW(out, folder);
    lstrcatW(out, L"\\");
    lstrcatW(out, name);
    return true;
}

// The process's own label on the files it makes: a process of a lower level
// (a protected browser tab) can neither write them, nor open them to read, so
// it cannot take the lock, nor hold the log. Made once; none where the system
// knows no labels (before Vista).
SECURITY_ATTRIBUTES g_labelled;
SECURITY_DESCRIPTOR g_label;
alignas(DWORD) BYTE g_labelAcl[64];

SECURITY_ATTRIBUTES* Label()
{
    using AddLabel = BOOL(WINAPI*)(PACL, DWORD, DWORD, DWORD, PSID);
    const auto add = Proc<AddLabel>(L"advapi32.dll", "AddMandatoryAce");
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    alignas(DWORD) BYTE level[SECURITY_MAX_SID_SIZE];
    ACL* acl = reinterpret_cast<ACL*>(g_labelAcl);
    if (!add || !InitializeSid(level, &authority, 1))
        return nullptr;
    *GetSidSubAuthority(level, 0) = g_level;
    if (!InitializeSecurityDescriptor(&g_label, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(acl, sizeof g_labelAcl, ACL_REVISION) ||
        !add(acl, ACL_REVISION, 0, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP, level) ||
        !SetSecurityDescriptorSacl(&g_label, TRUE, acl, FALSE))
        return nullptr;
    g_labelled = {sizeof g_labelled, &g_label, FALSE};
    return &g_labelled;
}
SECURITY_ATTRIBUTES* g_security;

// Whether the open handle is a plain file (or a plain folder) named
// parent\name: no reparse point (a junction, a symbolic link), a file of one
// name only, for a hard link would let the log write into a file of another
// folder, and where the system names an open file (Vista on) that name, for
// Wine opens a Unix symbolic link's target, and shows what it opened by its
// name alone. The name the system gives goes to final.
bool Plain(HANDLE handle, Facts& facts, DWORD kind, const wchar_t* parent, const wchar_t* name, wchar_t* final)
{
    wchar_t expected[MAX_PATH];
    final[0] = L'\0';
    return g_road->facts(handle, facts) &&
        (facts.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == kind &&
        (kind == FILE_ATTRIBUTE_DIRECTORY || facts.links == 1) &&
        (!g_finalPath ||
         (Join(expected, parent, name) && g_finalPath(handle, final, MAX_PATH, 0) < MAX_PATH &&
          lstrcmpiW(final, expected) == 0));
}

// One of the log's files in its folder, made if missing, and only if it is a
// plain file.
HANDLE OpenFile(const wchar_t* name, DWORD access, Facts& facts)
{
    wchar_t path[MAX_PATH], final[MAX_PATH];
    HANDLE file = Join(path, g_folder, name) ? g_road->open(path, access, OPEN_ALWAYS, g_road->noFollow, g_security)
                                             : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE && !Plain(file, facts, 0, g_final, name, final)) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE OpenLog()
{
    Facts facts;
    return OpenFile(kLogName, g_road->logAccess, facts);
}

HANDLE RotateNt(HANDLE log)
{
    // The old log's name in the held folder; whatever has that name is
    // replaced, never followed.
    RenameInformation rename = {TRUE, g_folders[1], sizeof kOldLogName - sizeof(wchar_t), {}};
    lstrcpyW(rename.name, kOldLogName);
    IoStatus status;
    if (!g_set || g_set(log, &status, &rename, sizeof rename, kFileRenameInformation) < 0)
        return log;  // the line goes to the full log all the same
    CloseHandle(log);
    return OpenLog();
}

HANDLE Rotate9x(HANDLE log)
{
    CloseHandle(log);
    wchar_t path[MAX_PATH], oldPath[MAX_PATH];
    char ansi[MAX_PATH], oldAnsi[MAX_PATH];
    if (Join(path, g_folder, kLogName) && Join(oldPath, g_folder, kOldLogName) &&
        WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, MAX_PATH, nullptr, nullptr) &&
        WideCharToMultiByte(CP_ACP, 0, oldPath, -1, oldAnsi, MAX_PATH, nullptr, nullptr)) {
        DeleteFileA(oldAnsi);
        MoveFileA(ansi, oldAnsi);
    }
    return OpenLog();
}

// Appending only on NT: every write lands at the end, and nothing written is
// ever overwritten; deleting shared, so that another process can rotate the
// log while this one has it open.
const Road kNt = {FactsNt,
                  OpenNt,
                  MakeFolderNt,
                  RotateNt,
                  FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE,
                  FILE_FLAG_OPEN_REPARSE_POINT};
const Road k9x = {Facts9x, Open9x, MakeFolder9x, Rotate9x, GENERIC_WRITE, 0};

// The process's mandatory level, and whether it runs elevated. Before Vista
// both calls fail: every process is as good as medium there.
DWORD Integrity(bool& elevated)
{
    DWORD level = kMediumIntegrity;
    elevated = false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return level;
    alignas(void*) BYTE buffer[64];
    DWORD size = 0;
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof buffer, &size)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0)
            level = *GetSidSubAuthority(sid, count - 1);
    }
    TOKEN_ELEVATION elevation = {};
    elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
    CloseHandle(token);
    return level;
}

bool LocalLowFolder(wchar_t* folder)
{
    using GetKnownFolder = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);
    using FreeMemory = void(WINAPI*)(void*);
    const auto known = Proc<GetKnownFolder>(L"shell32.dll", "SHGetKnownFolderPath");
    const auto release = Proc<FreeMemory>(L"ole32.dll", "CoTaskMemFree");
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
    const auto get = Proc<GetFolder>(L"shell32.dll", "SHGetFolderPathW");
    if (get && SUCCEEDED(get(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder)))
        return true;
    for (const wchar_t* name : {L"LOCALAPPDATA", L"USERPROFILE"}) {
        const DWORD n = GetEnvironmentVariableW(name, folder, MAX_PATH);
        if (n != 0 && n < MAX_PATH)
            return true;
    }
    const DWORD n = GetTempPathW(MAX_PATH, folder);
    return n != 0 && n < MAX_PATH;
}

// Windows 9x: no LocalLow and no integrity levels; the shell's folder where
// the shell has one (Internet Explorer 5 and later), else the profile, else
// the Windows folder, which is the profile of a system without profiles.
bool LocalFolder9x(wchar_t* folder)
{
    using GetFolder = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    char ansi[MAX_PATH];
    HMODULE shell = GetModuleHandleA("shell32.dll");
    if (!shell)
        shell = LoadLibraryA("shell32.dll");
    const auto get = shell
        ? reinterpret_cast<GetFolder>(reinterpret_cast<void (*)()>(GetProcAddress(shell, "SHGetFolderPathA")))
        : nullptr;
    bool found = get && SUCCEEDED(get(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, ansi));
    for (const char* name : {"LOCALAPPDATA", "USERPROFILE"}) {
        if (!found) {
            const DWORD n = GetEnvironmentVariableA(name, ansi, MAX_PATH);
            found = n != 0 && n < MAX_PATH;
        }
    }
    if (!found) {
        const UINT n = GetWindowsDirectoryA(ansi, MAX_PATH);
        found = n != 0 && n < MAX_PATH;
    }
    return found && MultiByteToWideChar(CP_ACP, 0, ansi, -1, folder, MAX_PATH);
}

// The user's folder for this process's log, or false when it keeps none: an
// elevated administrator's process, or one of a high level, writes no
// per-user log, for the user's own unelevated programs can turn the folder
// into a link to anywhere, and the log would then make and move files there
// with the administrator's rights. Wine reads every process as elevated and
// high, though it separates nothing; there the log is written.
bool FindBase(wchar_t* base)
{
    if (static_cast<LONG>(GetVersion()) < 0) {
        g_road = &k9x;
        return LocalFolder9x(base);
    }
    g_road = &kNt;
    bool elevated = false;
    g_level = Integrity(elevated);
    const bool wine = Proc<void (*)()>(L"ntdll.dll", "wine_get_version") != nullptr;
    g_query = Proc<FileInformation>(L"ntdll.dll", "NtQueryInformationFile");
    g_set = Proc<FileInformation>(L"ntdll.dll", "NtSetInformationFile");
    if ((elevated || g_level >= kHighIntegrity) && !wine)
        return false;
    g_security = Label();
    return (g_level < kMediumIntegrity && LocalLowFolder(base)) || LocalFolderNt(base);
}

// Opens the folders under base, each level made if missing (inside the one
// above, once that one is held), and the lock's file. A level that is no
// plain folder (a file, a junction, a symbolic link) means no log.
void OpenFolders(const wchar_t* base)
{
    Release();
    g_waitedInVain = false;
    g_lockTimeouts = 0;
    g_folder[0] = g_final[0] = L'\0';
    int n = lstrlenW(base);
    while (n > 0 && base[n - 1] == L'\\')
        --n;
    if (n + 1 + lstrlenW(kLevels[0]) + 1 + lstrlenW(kLevels[1]) + kNameRoom >= MAX_PATH)
        return;
    lstrcpynW(g_folder, base, n + 1);
    bool plain = true;
    g_finalPath = g_road == &kNt ? Proc<FinalPath>(L"kernel32.dll", "GetFinalPathNameByHandleW") : nullptr;
    if (g_finalPath) {
        // The user's folder may be a link (a moved profile): as it resolves.
        // Where the system names it not, the names are not compared.
        HANDLE folder =
            CreateFileW(g_folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const DWORD named = folder != INVALID_HANDLE_VALUE ? g_finalPath(folder, g_final, MAX_PATH, 0) : 0;
        if (named == 0 || named >= MAX_PATH)
            g_finalPath = nullptr;
        if (folder != INVALID_HANDLE_VALUE)
            CloseHandle(folder);
    }
    for (int i = 0; i < 2; ++i) {
        lstrcatW(g_folder, L"\\");
        lstrcatW(g_folder, kLevels[i]);
        if (!plain)
            continue;
        g_road->makeFolder(g_folder);
        // Windows 9x opens no folders, and has no links to check for.
        if (g_road == &kNt) {
            Facts facts;
            wchar_t final[MAX_PATH] = L"";
            g_folders[i] = Held(CreateFileW(g_folder, FILE_TRAVERSE | FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            plain = g_folders[i] && Plain(g_folders[i], facts, FILE_ATTRIBUTE_DIRECTORY, g_final, kLevels[i], final);
            lstrcpyW(g_final, final);
        }
    }
    Facts facts;
    if (plain)
        g_lock = Held(OpenFile(kLockName, GENERIC_READ, facts));
}

bool Found()
{
    LONG state = g_state;
    if (state == kUnknown && InterlockedCompareExchange(&g_state, kFinding, kUnknown) == kUnknown) {
        wchar_t base[MAX_PATH];
        state = kNone;
        if (FindBase(base)) {
            InitializeCriticalSection(&g_turn);
            OpenFolders(base);
            state = kFound;
        }
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

// Whether this process now holds the log's lock: a byte of the lock's file,
// which only the user's processes of this level can open. A line waits for
// another process's line at most once per run: a lock held longer (a hung
// process, or one that holds it on purpose) costs one wait, and from then on
// a line finds the lock free or is dropped. Never written beside another
// writer, for not every file system appends in one write (Windows 9x, a
// network share, Wine): every line in the log stays whole.
bool Lock()
{
    if (!g_lock)
        return false;
    const DWORD start = GetTickCount();
    while (!LockFile(g_lock, 0, 0, 1, 0)) {
        if (g_waitedInVain)
            return false;
        if (GetTickCount() - start >= kLockWait) {
            g_waitedInVain = true;
            ++g_lockTimeouts;
            return false;
        }
        Sleep(1);
    }
    return true;
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
        EnterCriticalSection(&g_turn);
        if (Lock()) {
            Facts facts;
            HANDLE log = OpenFile(kLogName, g_road->logAccess, facts);
            if (log != INVALID_HANDLE_VALUE && facts.size != 0 && facts.size + size > kTraceLogLimit)
                log = g_road->rotate(log);
            if (log != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                SetFilePointer(log, 0, nullptr, FILE_END);
                WriteFile(log, line, static_cast<DWORD>(size), &written, nullptr);
                CloseHandle(log);
            }
            UnlockFile(g_lock, 0, 0, 1, 0);
        }
        LeaveCriticalSection(&g_turn);
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
    EnterCriticalSection(&g_turn);
    OpenFolders(folder);
    LeaveCriticalSection(&g_turn);
    return g_folder[0] != L'\0';
}

unsigned TraceLogLockTimeouts()
{
    return g_lockTimeouts;
}
