// The site lock: the control acts only for pages of the service's own hosts.
//
// The control says it is safe for scripting and for initialisation, and its
// class id is public; without the lock any page on any site could make it
// write the client's settings and start the client. A page is known by the
// addresses its browser offers: the top page's (the web browser service of
// the site) and the frame's (the document of the site's container). When a
// page offers any, every one must be allowed. A host that offers none is a
// local program; it is trusted unless it asked about safety, which only a
// document or script host does.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>

// Whether url is an http or https address that matches one of the
// ';'-separated patterns. A pattern is a host pattern, "www.example.com",
// "*.example.com" (hosts below example.com only), an IPv4 address or
// "localhost", with optionally a scheme in front and a port behind:
//   *.example.com              http or https, any port
//   www.example.com:8080       http or https, that port
//   https://*.example.com      https on its default port (443) only
//   http://127.0.0.1:18431     http on that port only
// Hosts and schemes compare ignoring case. A host of one label other than
// localhost, or a wildcard over one label ("*.com"), matches nothing. The
// address is cracked by the system's URL parser; what it cannot crack, or an
// address with a user name, never matches.
bool IsAllowedSite(const wchar_t* url, const char* patterns);

// Whether the setting says "off", in any case.
bool IsSiteLockOff(const char* patterns);

class CSiteLock {
public:
    // patterns as for IsAllowedSite; "off" (any case) lets every page through.
    explicit CSiteLock(const char* patterns);

    bool Enabled() const { return m_enabled; }
    // A host asked whether the control is safe for its page: from now on the
    // page must offer an allowed address.
    void NoteSafetyQuestion() { m_askedAboutSafety = true; }
    // Whether the page around site (the client site, or the IObjectWithSite
    // site when there is none) may drive the control. When it may not,
    // RefusedPage() says which address was refused.
    bool Allows(IUnknown* site);
    const std::string& RefusedPage() const { return m_refusedPage; }

private:
    const char* m_patterns;
    bool m_enabled;
    bool m_askedAboutSafety = false;
    std::string m_refusedPage;
};
