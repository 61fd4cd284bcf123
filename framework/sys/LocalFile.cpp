#include "framework/sys/LocalFile.h"

#include "framework/sys/Result.h"

namespace {

// ntdll's, for a rename through a handle on every NT (kernel32's
// SetFileInformationByHandle came with Vista, and Wine 8's takes no DOS path).
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG nameBytes;
    WCHAR name[MAX_PATH + 8];
};
struct IoStatusBlock {
    LONG_PTR status;
    ULONG_PTR information;
};
constexpr int kFileRenameInformation = 10;
using SetInformationFile = LONG(WINAPI*)(HANDLE, IoStatusBlock*, void*, ULONG, int);
using StatusToError = ULONG(WINAPI*)(LONG);

// path as the system's own name of it, "\??\C:\..." or
// "\??\UNC\server\...", into info: 0 or the error code.
DWORD NtPath(const char* path, RenameInformation& info)
{
    WCHAR wide[MAX_PATH], full[MAX_PATH];
    if (!::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH))
        return ::GetLastError();
    const DWORD length = ::GetFullPathNameW(wide, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return length ? ERROR_FILENAME_EXCED_RANGE : ::GetLastError();
    // "\\?\C:\..." is that name already; "\\server\..." is under UNC.
    const bool unc = full[0] == L'\\' && full[1] == L'\\';
    const bool verbatim = unc && full[2] == L'?' && full[3] == L'\\';
    lstrcpyW(info.name, verbatim ? L"\\??\\" : unc ? L"\\??\\UNC" : L"\\??\\");
    lstrcatW(info.name, verbatim ? full + 4 : unc ? full + 1 : full);
    info.nameBytes = static_cast<ULONG>(lstrlenW(info.name) * sizeof(WCHAR));
    return ERROR_SUCCESS;
}

// Renames file to info's name: 0 or the error code.
DWORD RenameByHandle(HANDLE file, RenameInformation& info)
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto find = [ntdll](const char* name) {
        return ntdll ? reinterpret_cast<void*>(::GetProcAddress(ntdll, name)) : nullptr;
    };
    const auto setInformation = reinterpret_cast<SetInformationFile>(find("NtSetInformationFile"));
    const auto toError = reinterpret_cast<StatusToError>(find("RtlNtStatusToDosError"));
    if (!setInformation || !toError)
        return ERROR_CALL_NOT_IMPLEMENTED;  // Windows 9x, which keeps no partial download
    IoStatusBlock io = {};
    const LONG status = setInformation(file, &io, &info, sizeof info, kFileRenameInformation);
    return status < 0 ? toError(status) : ERROR_SUCCESS;
}

}  // namespace

DWORD CLocalFile::Create(const char* path, SECURITY_ATTRIBUTES* security)
{
    m_file.Reset(
        ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, security, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    m_renamable = false;
    return LAST_ERROR_CODE_IF(!m_file);
}

DWORD CLocalFile::Append(const char* path, SECURITY_ATTRIBUTES* security)
{
    // Renamed through this handle, and its time read (GetFileTime).
    m_file.Reset(::CreateFileA(path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, security,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    m_renamable = true;
    // A file in use is not a failure of the system: the caller decides.
    if (!m_file && ::GetLastError() == ERROR_SHARING_VIOLATION)
        return ERROR_SHARING_VIOLATION;
    RETURN_LAST_ERROR_CODE_IF(!m_file);
    LONG high = 0;
    if (::SetFilePointer(m_file.Get(), 0, &high, FILE_END) == INVALID_SET_FILE_POINTER) {
        if (const DWORD error = ::GetLastError()) {
            m_file.Reset();
            return LOG_IF_WIN32_ERROR(error);
        }
    }
    return ERROR_SUCCESS;
}

unsigned long long CLocalFile::Size(DWORD& error) const
{
    DWORD high = 0;
    const DWORD low = ::GetFileSize(m_file.Get(), &high);
    error = low == INVALID_FILE_SIZE ? ::GetLastError() : ERROR_SUCCESS;
    return error ? 0 : (static_cast<unsigned long long>(high) << 32) | low;
}

DWORD CLocalFile::KeepForReading(const char* path)
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    // A handle that denies writing cannot be opened while the writing one is
    // open, nor can a program start: a bridge that tolerates the writer holds
    // the file (never deletable or renamable) while the writer goes. Whoever
    // opens it for writing in that moment keeps the last open from working.
    // A writer that may rename the file needs that shared too.
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | (m_renamable ? FILE_SHARE_DELETE : 0);
    CFileHandle bridge(
        ::CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (const DWORD error = LAST_ERROR_CODE_IF(!bridge)) {
        m_file.Reset();
        return error;
    }
    m_file.Reset();
    m_renamable = false;
    m_file.Reset(
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return LAST_ERROR_CODE_IF(!m_file);
}

DWORD CLocalFile::Write(const void* data, DWORD size)
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    DWORD written = 0;
    RETURN_LAST_ERROR_CODE_IF(!::WriteFile(m_file.Get(), data, size, &written, nullptr));
    return LOG_IF_WIN32_ERROR(written == size ? ERROR_SUCCESS : ERROR_HANDLE_DISK_FULL);
}

DWORD CLocalFile::Rewind()
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    RETURN_LAST_ERROR_CODE_IF(::SetFilePointer(m_file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER);
    RETURN_LAST_ERROR_CODE_IF(!::SetEndOfFile(m_file.Get()));
    return ERROR_SUCCESS;
}

DWORD CLocalFile::RenameTo(const char* path)
{
    if (!m_file || !m_renamable)
        return ERROR_INVALID_HANDLE;
    RenameInformation info = {TRUE, nullptr, 0, {}};
    RETURN_IF_WIN32_CODE(NtPath(path, info));
    return LOG_IF_WIN32_ERROR(RenameByHandle(m_file.Get(), info));
}
