#include "control/SiteLock.h"

#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <wininet.h>

#include <cstring>
#include <cwchar>

#include "framework/sys/AnsiText.h"
#include "framework/sys/UniqueHandle.h"
#include "framework/com/InterfacePtr.h"

namespace {

char LowerAscii(wchar_t c)
{
    return static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
}

// The host in lower case, or empty when it holds anything but letters,
// digits, dots and hyphens: an encoded, bracketed or international host is
// never one of ours by accident.
std::string PlainHost(const wchar_t* host, size_t length)
{
    std::string plain;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = host[i];
        const bool ok =
            (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-';
        if (!ok)
            return std::string();
        plain += LowerAscii(c);
    }
    return plain;
}

// A site pattern taken apart: [scheme "://"] host pattern [":" port].
struct SitePattern {
    int scheme = 0;  // 0 for both, else INTERNET_SCHEME_HTTP or _HTTPS
    unsigned port = 0;  // 0 for any
    std::string host;  // lower case, "*." in front for a wildcard
};

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// False for what no pattern may be: an empty label, a host of one label other
// than localhost (a name that any network can answer for), or a wildcard over
// a one-label public suffix ("*.com").
bool ParsePattern(const char* text, size_t length, SitePattern& pattern)
{
    std::string lower;
    for (size_t i = 0; i < length; ++i)
        lower += LowerAscii(static_cast<unsigned char>(text[i]));
    size_t at = 0;
    if (lower.compare(0, 7, "http://") == 0) {
        pattern.scheme = INTERNET_SCHEME_HTTP;
        pattern.port = INTERNET_DEFAULT_HTTP_PORT;
        at = 7;
    } else if (lower.compare(0, 8, "https://") == 0) {
        pattern.scheme = INTERNET_SCHEME_HTTPS;
        pattern.port = INTERNET_DEFAULT_HTTPS_PORT;
        at = 8;
    }
    std::string host = lower.substr(at);
    const size_t colon = host.find(':');
    if (colon != std::string::npos) {
        const std::string digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        pattern.port = 0;
        for (char digit : digits)
            pattern.port = pattern.port * 10 + static_cast<unsigned>(digit - '0');
        if (pattern.port == 0 || pattern.port > 65535)
            return false;
        host.resize(colon);
    }
    const bool wildcard = host.compare(0, 2, "*.") == 0;
    const std::string name = wildcard ? host.substr(2) : host;
    if (name.empty() || name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos)
        return false;
    for (char c : name) {
        if (!IsHostChar(c))
            return false;
    }
    if (name.find('.') == std::string::npos && (wildcard || name != "localhost"))
        return false;
    pattern.host = host;
    return true;
}

bool MatchesPattern(const std::string& host, int scheme, unsigned port, const char* text, size_t length)
{
    SitePattern pattern;
    if (!ParsePattern(text, length, pattern))
        return false;
    if ((pattern.scheme && pattern.scheme != scheme) || (pattern.port && pattern.port != port))
        return false;
    if (pattern.host.compare(0, 2, "*.") == 0) {
        // "*.example.com": a host below example.com, not example.com itself.
        const std::string suffix = pattern.host.substr(1);
        return host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0;
    }
    return host == pattern.host;
}

bool MatchesAny(const std::string& host, int scheme, unsigned port, const char* patterns)
{
    for (const char* p = patterns; *p;) {
        const char* end = std::strchr(p, ';');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length && MatchesPattern(host, scheme, port, p, length))
            return true;
        p += length + (end ? 1 : 0);
    }
    return false;
}

// The top page's address through the site's web browser service; false
// when the site offers none. A reader that fails leaves the address null.
bool BrowserAddress(IUnknown* site, CBstr& address)
{
    CInterfacePtr<IServiceProvider> services;
    CInterfacePtr<IWebBrowser2> browser;
    if (FAILED(site->QueryInterface(IID_IServiceProvider, services.PutVoid())) || !services ||
        FAILED(services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, browser.PutVoid())) || !browser)
        return false;
    browser->get_LocationURL(address.Put());
    return true;
}

// The address of the document that contains the control (its frame).
bool DocumentAddress(IUnknown* site, CBstr& address)
{
    CInterfacePtr<IOleClientSite> clientSite;
    CInterfacePtr<IOleContainer> container;
    CInterfacePtr<IHTMLDocument2> document;
    if (FAILED(site->QueryInterface(IID_IOleClientSite, clientSite.PutVoid())) || !clientSite ||
        FAILED(clientSite->GetContainer(container.Put())) || !container || FAILED(container.As(&document)) || !document)
        return false;
    document->get_URL(address.Put());
    return true;
}

}  // namespace

bool IsAllowedSite(const wchar_t* url, const char* patterns)
{
    if (!url || !*url)
        return false;
    // Browsers hand over canonical addresses. A backslash or a blank is where
    // URL parsers disagree, and so where a page would hide its real host.
    for (const wchar_t* c = url; *c; ++c) {
        if (*c == L'\\' || *c <= L' ')
            return false;
    }
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths ask for pointers into url.
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    if (!InternetCrackUrlW(url, 0, 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    // "http://ours@theirs/" is how a page disguises its host.
    if (parts.dwUserNameLength || parts.dwPasswordLength || !parts.lpszHostName)
        return false;
    const std::string host = PlainHost(parts.lpszHostName, parts.dwHostNameLength);
    return !host.empty() && MatchesAny(host, parts.nScheme, parts.nPort, patterns);
}

bool IsSiteLockOff(const char* patterns)
{
    return patterns && LowerAscii(patterns[0]) == 'o' && LowerAscii(patterns[1]) == 'f' &&
        LowerAscii(patterns[2]) == 'f' && !patterns[3];
}

CSiteLock::CSiteLock(const char* patterns) : m_patterns(patterns), m_enabled(!IsSiteLockOff(patterns)) {}

bool CSiteLock::Allows(IUnknown* site)
{
    m_refusedPage.clear();
    if (!m_enabled)
        return true;
    // Every address offered must be allowed; an offered way that reads as
    // nothing is an empty address, which no pattern matches.
    bool offered = false;
    for (auto read : {&BrowserAddress, &DocumentAddress}) {
        CBstr address;
        if (!site || !read(site, address))
            continue;
        offered = true;
        const wchar_t* text = address.Get() ? address.Get() : L"";
        const UINT length = SysStringLen(address.Get());
        // A text with a NUL inside is not what a parser would see of it.
        if (length == 0 || wcslen(text) != length || !IsAllowedSite(text, m_patterns)) {
            m_refusedPage = length ? AnsiFromWide(text, length) : "<empty address>";
            return false;
        }
    }
    if (!offered && m_askedAboutSafety) {
        m_refusedPage = "<no address>";
        return false;
    }
    return true;
}
