#include "framework/LocalFile.h"

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
