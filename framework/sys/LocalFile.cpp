#include "framework/sys/LocalFile.h"

#include "framework/sys/Result.h"

DWORD CLocalFile::Create(const char* path)
{
    m_file.Reset(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return LOG_LAST_ERROR_IF(!m_file) ? ::GetLastError() : ERROR_SUCCESS;
}

DWORD CLocalFile::Write(const void* data, DWORD size)
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    DWORD written = 0;
    if (LOG_LAST_ERROR_IF(!::WriteFile(m_file.Get(), data, size, &written, nullptr)))
        return ::GetLastError();
    return LOG_IF_WIN32_ERROR(written == size ? ERROR_SUCCESS : ERROR_HANDLE_DISK_FULL);
}

DWORD CLocalFile::Rewind()
{
    if (!m_file)
        return ERROR_INVALID_HANDLE;
    if (LOG_LAST_ERROR_IF(::SetFilePointer(m_file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) ||
        LOG_LAST_ERROR_IF(!::SetEndOfFile(m_file.Get())))
        return ::GetLastError();
    return ERROR_SUCCESS;
}
