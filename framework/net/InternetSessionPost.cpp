// The session's form post, in a file of its own: only what posts links it.
#include "framework/net/InternetSession.h"

#include "framework/sys/Result.h"

DWORD CInternetSession::PostForm(const char* url, DWORD flags, const char* body, DWORD length, CHttpFile& file)
{
    file.Close();
    if (!m_session)
        return ERROR_INVALID_HANDLE;
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    char path[INTERNET_MAX_PATH_LENGTH];
    URL_COMPONENTSA parts{};
    parts.lpszHostName = host, parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path, parts.dwUrlPathLength = sizeof path;
    if (const DWORD error = CrackHttpUrl(url, parts))
        return error;
    const auto context = reinterpret_cast<DWORD_PTR>(this);
    const HINTERNET connection =
        ::InternetConnectA(m_session.Get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, context);
    RETURN_LAST_ERROR_CODE_IF(!connection);
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    const HINTERNET request = ::HttpOpenRequestA(connection, "POST", path, nullptr, nullptr, nullptr, flags, context);
    DWORD error = LAST_ERROR_CODE_IF(!request);
    // The file holds both from here on, and closes them on any failure.
    if (!file.Attach(request, connection))
        return ERROR_INTERNET_OPERATION_CANCELLED;
    static const char kType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    void* const data = const_cast<char*>(body);
    if (!error)
        error = LAST_ERROR_CODE_IF(!::HttpSendRequestA(request, kType, ~0u, data, length));  // kType: terminated
    if (error)
        file.Close();
    return error;
}
