#include "framework/sys/LocalFile.h"

DWORD CLocalFile::Create(const char* path)
{
    m_file.Reset(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CLocalFile::Write(const void* data, DWORD size)
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    DWORD written = 0;
    if (!::WriteFile(m_file.Get(), data, size, &written, nullptr))
        return ::GetLastError();
    return written == size ? ERROR_SUCCESS : ERROR_HANDLE_DISK_FULL;
}

DWORD CLocalFile::Rewind()
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    if (::SetFilePointer(m_file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(m_file.Get()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}
