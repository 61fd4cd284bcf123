#include "framework/sys/LocalFile.h"

#include "framework/sys/Result.h"

DWORD CLocalFile::Create(const char* path)
{
    m_file.Reset(
        ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return LAST_ERROR_CODE_IF(!m_file);
}

DWORD CLocalFile::Append(const char* path)
{
    m_file.Reset(
        ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // A file in use is not a failure of the system: the caller decides.
    if (!m_file)
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? ERROR_SHARING_VIOLATION : LAST_ERROR_CODE_IF(true);
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
    CFileHandle bridge(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (const DWORD error = LAST_ERROR_CODE_IF(!bridge)) {
        m_file.Reset();
        return error;
    }
    m_file.Reset();
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
