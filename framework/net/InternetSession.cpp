#include "framework/net/InternetSession.h"

#include "framework/sys/Result.h"

CInternetSession::CInternetSession(const char* agent, DWORD_PTR context, DWORD accessType, DWORD flags)
    : m_session(::InternetOpenA(agent, accessType, nullptr, nullptr, flags)), m_context(context)
{
    m_openError = LAST_ERROR_CODE_IF(!m_session);
}

CInternetSession::~CInternetSession()
{
    Close();
}

void CInternetSession::Close()
{
    if (m_session)
        ::InternetSetStatusCallbackA(m_session.Get(), nullptr);
    m_session.Reset();
}

DWORD CInternetSession::EnableStatusCallback(bool enable)
{
    if (!m_session)
        return ERROR_INVALID_HANDLE;
    INTERNET_STATUS_CALLBACK previous =
        ::InternetSetStatusCallbackA(m_session.Get(), enable ? &StatusCallback : nullptr);
    return LAST_ERROR_CODE_IF(previous == INTERNET_INVALID_STATUS_CALLBACK);
}

namespace {

// 0 for the schemes we speak, else the error that names the others.
DWORD WebScheme(INTERNET_SCHEME scheme)
{
    return scheme == INTERNET_SCHEME_HTTP || scheme == INTERNET_SCHEME_HTTPS ? ERROR_SUCCESS
                                                                             : ERROR_INTERNET_UNRECOGNIZED_SCHEME;
}

}  // namespace

// The parts of an http:// or https:// URL that parts asks for: 0 or the
// error code.
DWORD CInternetSession::CrackHttpUrl(const char* url, URL_COMPONENTSA& parts)
{
    parts.dwStructSize = sizeof parts;
    if (LOG_LAST_ERROR_IF(!::InternetCrackUrlA(url, 0, 0, &parts)))
        return ERROR_INTERNET_INVALID_URL;
    return LOG_IF_WIN32_ERROR(WebScheme(parts.nScheme));
}

DWORD CInternetSession::OpenUrl(const char* url, DWORD flags, CHttpFile& file, const char* headers, DWORD headersLength)
{
    file.Close();
    if (!m_session)
        return ERROR_INVALID_HANDLE;
    URL_COMPONENTSA parts{};
    if (const DWORD error = CrackHttpUrl(url, parts))
        return error;
    // The library hands the request's context to the callback: it leads back
    // to this object, which passes its own context value on.
    HINTERNET request =
        ::InternetOpenUrlA(m_session.Get(), url, headers, headersLength, flags, reinterpret_cast<DWORD_PTR>(this));
    RETURN_LAST_ERROR_CODE_IF(!request);
    return file.Attach(request) ? ERROR_SUCCESS : ERROR_INTERNET_OPERATION_CANCELLED;
}

void CInternetSession::OnStatusCallback(DWORD_PTR, DWORD, void*, DWORD) {}

void CALLBACK CInternetSession::StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                                               DWORD informationLength)
{
    auto* self = reinterpret_cast<CInternetSession*>(context);
    if (self)
        self->OnStatusCallback(self->m_context, status, information, informationLength);
}
