#include "control/SiteLock.h"

#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>
#include <servprov.h>
#include <shlguid.h>
#include <wininet.h>

#include <algorithm>
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

// The pattern text [first, last) starts with prefix, ignoring case.
bool StartsWith(const char* first, const char* last, const char* prefix)
{
    for (; *prefix; ++prefix, ++first) {
        if (first == last || LowerAscii(static_cast<unsigned char>(*first)) != *prefix)
            return false;
    }
    return true;
}

// Whether the pattern [first, last) — [scheme "://"] host pattern [":" port] —
// matches the cracked address. A pattern that no pattern may be matches
// nothing: an empty label, a host of one label other than localhost (a name
// that any network can answer for), a wildcard over a one-label suffix
// ("*.com"), another scheme, a port that is none.
bool MatchesPattern(const std::string& host, int scheme, unsigned port, const char* first, const char* last)
{
    int wantScheme = 0;  // both
    unsigned wantPort = 0;  // any
    if (StartsWith(first, last, "http://")) {
        wantScheme = INTERNET_SCHEME_HTTP;
        wantPort = INTERNET_DEFAULT_HTTP_PORT;
        first += 7;
    } else if (StartsWith(first, last, "https://")) {
        wantScheme = INTERNET_SCHEME_HTTPS;
        wantPort = INTERNET_DEFAULT_HTTPS_PORT;
        first += 8;
    }
    const char* colon = std::find(first, last, ':');
    if (colon != last) {
        if (last - colon < 2 || last - colon > 6)
            return false;
        wantPort = 0;
        for (const char* digit = colon + 1; digit != last; ++digit) {
            if (*digit < '0' || *digit > '9')
                return false;
            wantPort = wantPort * 10 + static_cast<unsigned>(*digit - '0');
        }
        if (wantPort == 0 || wantPort > 65535)
            return false;
    }
    const bool wildcard = StartsWith(first, colon, "*.");
    const char* name = wildcard ? first + 2 : first;
    bool dotted = false;
    for (const char* c = name; c != colon; ++c) {
        const char lower = LowerAscii(static_cast<unsigned char>(*c));
        const bool label = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') || lower == '-';
        if (!label && (lower != '.' || c == name || c + 1 == colon || c[1] == '.'))
            return false;
        dotted = dotted || lower == '.';
    }
    if (name == colon || (!dotted && (wildcard || !StartsWith(name, colon, "localhost") || colon - name != 9)))
        return false;
    if ((wantScheme && wantScheme != scheme) || (wantPort && wantPort != port))
        return false;
    // The host compared with [first, colon), ignoring case; "*.example.com"
    // is a host below example.com, not example.com itself.
    const size_t length = static_cast<size_t>(colon - first) - (wildcard ? 1 : 0);
    if (wildcard ? host.size() <= length : host.size() != length)
        return false;
    const char* pattern = wildcard ? first + 1 : first;
    return std::equal(host.end() - static_cast<std::ptrdiff_t>(length), host.end(), pattern,
                      [](char h, char p) { return h == LowerAscii(static_cast<unsigned char>(p)); });
}

bool MatchesAny(const std::string& host, int scheme, unsigned port, const char* patterns)
{
    for (const char* p = patterns; *p;) {
        const char* end = std::strchr(p, ';');
        const size_t length = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (length && MatchesPattern(host, scheme, port, p, p + length))
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
