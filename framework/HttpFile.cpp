#include "framework/HttpFile.h"

DWORD CHttpFile::QueryStatusCode(DWORD& status) const
{
    DWORD size = sizeof status;
    if (!::HttpQueryInfoA(m_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

bool CHttpFile::QueryInfo(DWORD level, char* buffer, DWORD size) const
{
    if (size == 0)
        return false;
    DWORD length = size;
    if (!::HttpQueryInfoA(m_request.Get(), level, buffer, &length, nullptr) || length >= size) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}

DWORD CHttpFile::Read(void* buffer, DWORD size, DWORD& read)
{
    read = 0;
    if (!::InternetReadFile(m_request.Get(), buffer, size, &read))
        return ::GetLastError();
    return ERROR_SUCCESS;
}
