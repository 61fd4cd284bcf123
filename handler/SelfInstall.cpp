#include "handler/SelfInstall.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "download/DownloadFolder.h"
#include "framework/sys/AnsiText.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"
#include "handler/ExitCodes.h"
#include "handler/ProgramFile.h"
#include "handler/SchemeRegistration.h"
#include "link/NonceLedger.h"
#include "support/MessageCaption.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

constexpr wchar_t kProgramName[] = L"\\VantorimaLaunch.exe";
constexpr wchar_t kDisplayName[] = L"VOK 围棋 启动器";
constexpr wchar_t kPublisher[] = L"Quorsel";
constexpr char kLauncherKeyPath[] = "Software\\Quorsel\\Vantorima";
const char kInstalledText[] = "VOK 围棋启动器已经装好。\r\n\r\n请回到网页，再按一次“开始游戏”。";
const char kInstallFailedText[] = "VOK 围棋启动器无法写入文件夹或注册表，未能安装。";
const char kUninstallFailedText[] = "VOK 围棋启动器未能完全卸载。";

void Box(bool quiet, const char* text, UINT icon)
{
    if (!quiet)
        LOG_LAST_ERROR_IF(ShowPlayerBox(nullptr, text, MB_OK | icon | MB_SETFOREGROUND) == 0);
}

// path with a suffix after it.
WideText WithSuffix(const WideText& path, const wchar_t* suffix)
{
    return WideJoin({path.data(), suffix});
}

bool FileExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// A file that may never have been made: only a failure to delete one that is
// there is traced.
void DeleteIfThere(const wchar_t* path)
{
    if (!DeleteFileW(path))
        LOG_LAST_ERROR_IF(GetLastError() != ERROR_FILE_NOT_FOUND);
}

// The running program's bytes into a new file: a plain copy would carry the
// download's Zone.Identifier stream along, and Windows would warn each time
// the browser starts the copy.
DWORD WriteOwnBytes(const wchar_t* to)
{
    const CFileHandle from(CreateFileW(ProgramPath().data(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    RETURN_LAST_ERROR_CODE_IF(!from);
    const DWORD size = GetFileSize(from.Get(), nullptr);
    RETURN_LAST_ERROR_CODE_IF(size == INVALID_FILE_SIZE);
    std::vector<char> bytes(size);
    DWORD read = 0;
    if (!LOG_IF_WIN32_BOOL_FALSE(ReadFile(from.Get(), bytes.data(), size, &read, nullptr)) || read != size)
        return ERROR_READ_FAULT;
    CFileHandle file(CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    RETURN_LAST_ERROR_CODE_IF(!file);
    DWORD written = 0;
    DWORD error = LAST_ERROR_CODE_IF(!WriteFile(file.Get(), bytes.data(), size, &written, nullptr));
    if (error == ERROR_SUCCESS && written != size)
        error = ERROR_WRITE_FAULT;
    if (error == ERROR_SUCCESS)
        error = LAST_ERROR_CODE_IF(!FlushFileBuffers(file.Get()));
    file.Reset();
    if (error != ERROR_SUCCESS)
        LOG_IF_WIN32_BOOL_FALSE(DeleteFileW(to));
    return error;
}

// The uninstall entry for the installed program.
LONG WriteUninstallEntry(CRegKey& key, const WideText& folder, const WideText& program)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    LOG_IF_WIN32_BOOL_FALSE(GetFileAttributesExW(program.data(), GetFileExInfoStandard, &data));
    const WideText version = VersionText(ProgramVersion(program.data()));
    const wchar_t* path = program.data();
    // Each text joined from three pieces.
    const struct {
        const wchar_t *name, *a, *b, *c;
    } texts[] = {
        {L"DisplayName", kDisplayName, L"", L""},
        {L"DisplayVersion", version.data(), L"", L""},
        {L"Publisher", kPublisher, L"", L""},
        {L"DisplayIcon", path, L",0", L""},
        {L"InstallLocation", folder.data(), L"", L""},
        {L"UninstallString", L"\"", path, L"\" /uninstall"},
        {L"QuietUninstallString", L"\"", path, L"\" /uninstall /quiet"},
    };
    for (const auto& text : texts)
        RETURN_IF_WIN32_CODE(key.WriteWide(text.name, WideJoin({text.a, text.b, text.c})));
    const struct {
        const char* name;
        DWORD number;
    } numbers[] = {{"EstimatedSize", (data.nFileSizeLow + 1023) / 1024}, {"NoModify", 1}, {"NoRepair", 1}};
    for (const auto& number : numbers)
        RETURN_IF_WIN32_CODE(key.Write(number.name, REG_DWORD, &number.number, sizeof number.number));
    return ERROR_SUCCESS;
}

// What an install wrote, taken back unless it is kept.
class CInstallSteps {
public:
    ~CInstallSteps()
    {
        if (m_kept)
            return;
        if (m_entryCreated)
            LOG_IF_WIN32_ERROR(CRegKey::DeleteTree(HKEY_CURRENT_USER, kUninstallEntryPath));
        if (m_schemeWritten)
            LOG_IF_WIN32_ERROR(RestoreScheme(SchemeScope::User, m_scheme));
        if (!m_written.empty())
            DeleteIfThere(m_written.data());
        if (!m_replaced.empty())
            LOG_IF_WIN32_BOOL_FALSE(MoveFileExW(m_replaced.data(), m_program.data(), MOVEFILE_REPLACE_EXISTING));
        if (m_folderCreated)
            LOG_IF_WIN32_BOOL_FALSE(RemoveDirectoryW(m_folder.data()));
        if (m_parentCreated)
            LOG_IF_WIN32_BOOL_FALSE(RemoveDirectoryW(m_parent.data()));
    }

    // The program file: this program's bytes, unless an installed copy is as
    // new or newer.
    DWORD Program(const WideText& folder, const WideText& program)
    {
        m_folder = folder, m_program = program;
        if (RunsFrom(program))
            return ERROR_SUCCESS;
        if (ProgramVersion(program.data()) >= ProgramVersion(nullptr))
            return ERROR_SUCCESS;
        // Its parent first: %LOCALAPPDATA%\Programs may not exist yet.
        WideText parent = folder;
        for (size_t i = parent.size() - 1; i > 0; --i)
            if (parent[i] == L'\\') {
                parent[i] = L'\0';
                break;
            }
        m_parent = parent;
        m_parentCreated = CreateDirectoryW(parent.data(), nullptr) != FALSE;
        m_folderCreated = CreateDirectoryW(folder.data(), nullptr) != FALSE;
        RETURN_LAST_ERROR_CODE_IF(!m_folderCreated && GetLastError() != ERROR_ALREADY_EXISTS);
        const WideText fresh = WithSuffix(program, L".new");
        m_written = fresh;
        if (const DWORD error = WriteOwnBytes(fresh.data()))
            return error;
        // An older copy may be running: it can be renamed, not overwritten.
        if (FileExists(program.data())) {
            const WideText old = WithSuffix(program, L".old");
            DeleteIfThere(old.data());
            RETURN_LAST_ERROR_CODE_IF(!MoveFileExW(program.data(), old.data(), MOVEFILE_REPLACE_EXISTING));
            m_replaced = old;
        }
        RETURN_LAST_ERROR_CODE_IF(!MoveFileExW(fresh.data(), program.data(), 0));
        m_written = program;
        return ERROR_SUCCESS;
    }

    LONG Scheme()
    {
        m_scheme = ReadScheme(SchemeScope::User);
        m_schemeWritten = true;
        return RegisterScheme(SchemeScope::User, m_program.data());
    }

    LONG Entry()
    {
        CRegKey key;
        RETURN_IF_WIN32_CODE(key.Create(HKEY_CURRENT_USER, kUninstallEntryPath, KEY_SET_VALUE, &m_entryCreated));
        return WriteUninstallEntry(key, m_folder, m_program);
    }

    void Keep()
    {
        m_kept = true;
        // The older copy goes now, or, while it still runs, with the next
        // install or the uninstall.
        if (!m_replaced.empty())
            DeleteFileW(m_replaced.data());
    }

private:
    WideText m_folder, m_parent, m_program, m_written, m_replaced;
    SchemeState m_scheme;
    bool m_parentCreated = false, m_folderCreated = false, m_schemeWritten = false, m_entryCreated = false,
         m_kept = false;
};

// The installed program and what an install or a replacement left beside it;
// then the folder, once empty. ERROR_SUCCESS once it is gone, else why not,
// untraced: the finisher asks again until the ended program's file is let go.
DWORD RemoveInstalledFiles(const WideText& folder)
{
    const WideText program = WideJoin({folder.data(), kProgramName});
    for (const wchar_t* suffix : {L"", L".new", L".old"})
        DeleteFileW(WithSuffix(program, suffix).data());
    if (RemoveDirectoryW(folder.data()))
        return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ERROR_SUCCESS : error;
}

// Starts a copy of this program, which waits for this process to end and
// then removes the files. The copy lies in a new private folder under the
// temporary folder, made as the update's download folder is: in the shared
// temporary folder itself, anything could lie beside it. The copy is opened
// for deletion on close, and the handle is inherited: the system deletes the
// copy once its process, the last holder, has ended; the empty folder goes
// with the next such folder's sweep.
bool StartFinisher()
{
    const std::string tempPath = TempPath();
    CDownloadFolder folder;
    folder.Create(tempPath);
    if (folder.Path().empty())
        return false;
    const WideText temp = WideFromAnsi(tempPath.c_str());
    const WideText copy = WideFromAnsi((folder.Path() + "\\VantorimaUninstall.exe").c_str());
    if (copy.size() <= 1 || !LOG_IF_WIN32_BOOL_FALSE(CopyFileW(ProgramPath().data(), copy.data(), TRUE)))
        return false;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const CFileHandle file(CreateFileW(copy.data(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       &inherited, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (LOG_LAST_ERROR_IF(!file)) {
        DeleteIfThere(copy.data());
        return false;
    }
    // From here on, a failure leaves nothing: the copy goes with its handle.
    HANDLE self = nullptr;
    if (!LOG_IF_WIN32_BOOL_FALSE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                                                 SYNCHRONIZE, TRUE, 0)))
        return false;
    const CKernelHandle selfHolder(self);
    wchar_t argument[32];
    wsprintfW(argument, L" /uninstall-finish %lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(self)));
    WideText command = WideJoin({L"\"", copy.data(), L"\"", argument});
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!LOG_IF_WIN32_BOOL_FALSE(CreateProcessW(copy.data(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                                temp.data(), &startup, &process)))
        return false;
    const CKernelHandle thread(process.hThread), finisher(process.hProcess);
    return true;
}

}  // namespace

WideText InstallFolder()
{
    wchar_t local[MAX_PATH];
    if (FAILED(LOG_IF_FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))))
        return WideText();
    return WideJoin({local, L"\\Programs\\Vantorima"});
}

WideText InstalledProgram()
{
    const WideText folder = InstallFolder();
    return folder.empty() ? folder : WideJoin({folder.data(), kProgramName});
}

int InstallSelf(bool quiet)
{
    const WideText folder = InstallFolder();
    const WideText program = InstalledProgram();
    CInstallSteps steps;
    const char* step = "folder";
    LONG result = folder.empty() ? ERROR_PATH_NOT_FOUND : static_cast<LONG>(steps.Program(folder, program));
    if (result == ERROR_SUCCESS)
        step = "scheme", result = steps.Scheme();
    if (result == ERROR_SUCCESS)
        step = "uninstall entry", result = steps.Entry();
    if (result != ERROR_SUCCESS) {
        TraceOut(TraceLine::kInstallFailed, step, static_cast<long>(result));
        Box(quiet, kInstallFailedText, MB_ICONERROR);
        return kExitRegistration;
    }
    steps.Keep();
    TraceOut(TraceLine::kInstalled);
    Box(quiet, kInstalledText, MB_ICONINFORMATION);
    return kExitLaunched;
}

int UninstallSelf(bool quiet)
{
    const WideText folder = InstallFolder();
    const WideText program = InstalledProgram();
    if (folder.empty())
        return kExitRegistration;
    // The scheme only while it names this copy: one the client's installer
    // registered for its own handler stays.
    LONG result = ERROR_SUCCESS;
    const WideText command = ReadScheme(SchemeScope::User).command;
    if (!command.empty() && command[0] == L'"' && command.size() > program.size() &&
        CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, command.data() + 1, static_cast<int>(program.size() - 1),
                       program.data(), static_cast<int>(program.size() - 1)) == CSTR_EQUAL)
        result = UnregisterScheme(SchemeScope::User);
    for (const char* path : {kUninstallEntryPath, kNonceLedgerPath}) {
        const LONG deleted = LOG_IF_WIN32_ERROR(CRegKey::DeleteTree(HKEY_CURRENT_USER, path));
        result = result == ERROR_SUCCESS ? deleted : result;
    }
    LOG_IF_WIN32_ERROR(CRegKey::DeleteIfEmpty(HKEY_CURRENT_USER, kLauncherKeyPath));
    const bool filesGone =
        RunsFrom(program) ? StartFinisher() : LOG_IF_WIN32_ERROR(RemoveInstalledFiles(folder)) == ERROR_SUCCESS;
    if (result != ERROR_SUCCESS || !filesGone) {
        TraceOut(TraceLine::kUninstallFailed, static_cast<long>(filesGone ? result : ERROR_ACCESS_DENIED));
        Box(quiet, kUninstallFailedText, MB_ICONERROR);
        return kExitRegistration;
    }
    // Done: the system's list of programs shows it gone; no box.
    TraceOut(TraceLine::kUninstalled);
    return kExitLaunched;
}

int FinishUninstall(const wchar_t* processHandle)
{
    const CKernelHandle process(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(StrToIntW(processHandle))));
    const WideText folder = InstallFolder();
    if (!process || folder.empty() || LOG_LAST_ERROR_IF(WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0))
        return kExitRegistration;
    // The system may let go of the ended program's file a little later.
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 50; ++attempt, Sleep(100)) {
        error = RemoveInstalledFiles(folder);
        if (error == ERROR_SUCCESS)
            return kExitLaunched;
    }
    LOG_IF_WIN32_ERROR(error);
    return kExitRegistration;
}
