#include "download/ErrorText.h"

#include <wininet.h>

#include <cstdio>

namespace {

// Texts for the codes a download meets most; the system has texts for few of them.
struct KnownError {
    DWORD code;
    const char* text;
};
const KnownError kInternetErrors[] = {
    {ERROR_INTERNET_TIMEOUT, "the request timed out"},
    {ERROR_INTERNET_INVALID_URL, "the URL is invalid"},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "the URL scheme is not supported"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "the server name could not be resolved"},
    {ERROR_INTERNET_OPERATION_CANCELLED, "the operation was cancelled"},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "the request is in the wrong state"},
    {ERROR_INTERNET_CANNOT_CONNECT, "cannot connect to the server"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "the connection was aborted"},
    {ERROR_INTERNET_CONNECTION_RESET, "the connection was reset"},
    {ERROR_INTERNET_FORCE_RETRY, "the request must be sent again"},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "the server certificate has expired"},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "the server certificate is for another name"},
    {ERROR_INTERNET_INVALID_CA, "the server certificate is not from a trusted authority"},
    {ERROR_INTERNET_SEC_CERT_ERRORS, "the server certificate has errors"},
    {ERROR_INTERNET_SEC_INVALID_CERT, "the server certificate is invalid"},
    {ERROR_INTERNET_SEC_CERT_REVOKED, "the server certificate has been revoked"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "the secure channel failed"},
    {ERROR_HTTP_HEADER_NOT_FOUND, "the header was not found"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "the server response is invalid"},
    {ERROR_HTTP_REDIRECT_FAILED, "the redirection failed"},
};

// The message of code from source (a module, or null for the system),
// without trailing line ends, blanks and full stops.
std::string FormatFrom(HMODULE module, DWORD code)
{
    char text[512];
    DWORD flags = FORMAT_MESSAGE_IGNORE_INSERTS | (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    DWORD n = FormatMessageA(flags, module, code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.'))
        --n;
    return std::string(text, n);
}

std::string WithNumber(const char* text, DWORD code)
{
    char number[16];
    wsprintfA(number, "%lu", static_cast<unsigned long>(code));
    return std::string(text) + " (error " + number + ")";
}

}  // namespace

std::string SystemErrorText(DWORD code)
{
    std::string text = FormatFrom(nullptr, code);
    return text.empty() ? WithNumber("system error", code) : text;
}

std::string InternetErrorText(DWORD code)
{
    if (code < INTERNET_ERROR_BASE || code > INTERNET_ERROR_LAST)
        return SystemErrorText(code);
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD detail = 0;
        char text[256];
        DWORD length = sizeof text;
        if (InternetGetLastResponseInfoA(&detail, text, &length) && length > 0 && length < sizeof text)
            return std::string(text, length);
    }
    std::string text = FormatFrom(GetModuleHandleA("wininet.dll"), code);
    if (!text.empty())
        return text;
    for (const KnownError& known : kInternetErrors) {
        if (known.code == code)
            return WithNumber(known.text, code);
    }
    return WithNumber("internet error", code);
}
