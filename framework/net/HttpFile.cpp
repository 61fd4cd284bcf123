#include "framework/net/HttpFile.h"

#include "framework/sys/Result.h"

void CHttpFile::Close()
{
    std::lock_guard<CCriticalSection> lock(m_closing);
    if (m_cancelled)
        m_request.Detach();  // Cancel closed it
    else
        m_request.Reset();
    m_connection.Reset();
}

void CHttpFile::Cancel()
{
    std::lock_guard<CCriticalSection> lock(m_closing);
    if (!m_cancelled.exchange(true) && m_request)
        ::InternetCloseHandle(m_request.Get());
}

bool CHttpFile::Attach(HINTERNET request, HINTERNET connection)
{
    std::lock_guard<CCriticalSection> lock(m_closing);
    m_connection.Reset(connection);
    if (m_cancelled) {
        ::InternetCloseHandle(request);
        return false;
    }
    m_request.Reset(request);
    return true;
}

DWORD CHttpFile::QueryStatusCode(DWORD& status) const
{
    if (m_cancelled)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    DWORD size = sizeof status;
    RETURN_LAST_ERROR_CODE_IF(
        !::HttpQueryInfoA(m_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
    return ERROR_SUCCESS;
}

bool CHttpFile::QueryInfo(DWORD level, char* buffer, DWORD size) const
{
    if (size == 0)
        return false;
    if (m_cancelled) {
        buffer[0] = '\0';
        return false;
    }
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
    if (m_cancelled)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    RETURN_LAST_ERROR_CODE_IF(!::InternetReadFile(m_request.Get(), buffer, size, &read));
    return ERROR_SUCCESS;
}

DWORD CHttpFile::QueryDataAvailable(DWORD& available)
{
    available = 0;
    if (m_cancelled)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    RETURN_LAST_ERROR_CODE_IF(!::InternetQueryDataAvailable(m_request.Get(), &available, 0, 0));
    return ERROR_SUCCESS;
}
