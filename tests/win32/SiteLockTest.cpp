// The site lock's address rules: which page addresses belong to the allowed
// hosts, cracked by the system's URL parser as the control cracks them.
#include <windows.h>

#include <gtest/gtest.h>

#include "control/SiteLock.h"

namespace {

const char kSites[] = "www.example.com;*.go.example;127.0.0.1;localhost";

struct Case {
    const wchar_t* url;
    bool allowed;
};

void ExpectAll(const Case* cases, size_t count, const char* sites = kSites)
{
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(IsAllowedSite(cases[i].url, sites), cases[i].allowed) << testing::PrintToString(cases[i].url);
    }
}

}  // namespace

TEST(SiteLock, HostsMatchExactlyIgnoringCaseAndPort)
{
    const Case cases[] = {
        {L"http://www.example.com/login.html", true},
        {L"https://WWW.Example.COM:8443/a?b=c#d", true},
        {L"http://127.0.0.1:18431/login.html", true},
        {L"http://localhost/", true},
        {L"http://LOCALHOST", true},
        {L"http://example.com/", false},  // only www. is listed
        {L"http://wwwexample.com/", false},
        {L"http://www.example.com.evil.example/", false},
        {L"http://127.0.0.2/", false},
        {L"http://127.0.0.1./", false},  // another spelling is another host
        {L"http://127.1/", false},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(SiteLock, WildcardsCoverHostsBelowTheDomainOnly)
{
    const Case cases[] = {
        {L"http://play.go.example/", true}, {L"http://a.b.GO.example/", true},
        {L"http://go.example/", false},  // the bare domain needs its own entry
        {L"http://evilgo.example/", false}, {L"http://go.example.evil/", false},
        {L"http://.go.example/", false},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0]);
    EXPECT_TRUE(IsAllowedSite(L"http://go.example/", "*.go.example;go.example"));
}

TEST(SiteLock, DisguisedHostsAndOtherSchemesNeverMatch)
{
    const Case cases[] = {
        {L"http://127.0.0.1.evil.example/", false},
        {L"http://evil.example/127.0.0.1", false},
        {L"http://evil.example/?u=http://127.0.0.1/", false},
        {L"http://evil.example/#http://127.0.0.1/", false},
        {L"http://127.0.0.1@evil.example/", false},
        {L"http://user:pw@127.0.0.1/", false},  // a user name is how hosts are disguised
        {L"http://evil.example\\@127.0.0.1/", false},
        {L"http://evil.example\\.127.0.0.1/", false},
        {L"http://127.0.0.1%2eevil.example/", false},
        {L"http://127.0.0.1 .evil.example/", false},
        {L"file:///c:/pages/login.html", false},
        {L"file://127.0.0.1/c$/login.html", false},
        {L"ftp://127.0.0.1/login.html", false},
        {L"javascript:location='http://127.0.0.1/'", false},
        {L"about:blank", false},
        {L"res://ieframe.dll/127.0.0.1", false},
        {L"127.0.0.1", false},
        {L"http://", false},
        {L"http:///127.0.0.1", false},
        {L"not an address", false},
        {L"", false},
        {nullptr, false},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0]);
}

TEST(SiteLock, SchemesAndPortsNarrowAPattern)
{
    const char sites[] = "https://*.go.example;http://127.0.0.1:18431;www.example.com:8080;HTTPS://Login.Example.com";
    const Case cases[] = {
        {L"https://play.go.example/", true},
        {L"https://play.go.example:443/", true},
        {L"http://play.go.example/", false},  // a plain http page is anyone's on the way
        {L"https://play.go.example:8443/", false},  // a scheme alone means its own port
        {L"http://127.0.0.1:18431/login.html", true},
        {L"https://127.0.0.1:18431/", false},
        {L"http://127.0.0.1/", false},
        {L"http://127.0.0.1:18432/", false},
        {L"http://www.example.com:8080/", true},  // no scheme: both
        {L"https://www.example.com:8080/", true},
        {L"http://www.example.com/", false},
        {L"https://login.example.com/", true},
        {L"http://login.example.com:443/", false},
    };
    ExpectAll(cases, sizeof cases / sizeof cases[0], sites);
    // Bare hosts keep their meaning: either scheme, any port.
    EXPECT_TRUE(IsAllowedSite(L"https://127.0.0.1:9/", "127.0.0.1"));
    EXPECT_TRUE(IsAllowedSite(L"http://a.go.example:81/", "*.go.example"));
}

TEST(SiteLock, PatternsThatCoverTooMuchOrCannotBeReadMatchNothing)
{
    for (const char* pattern :
         {"*.com", "com", "intranet", "http://intranet", "*.localhost", "ftp://127.0.0.1", "127.0.0.1:", "127.0.0.1:0",
          "127.0.0.1:65536", "127.0.0.1:80x", "*.", ".example.com", "www..example.com", "https://", "*"}) {
        EXPECT_FALSE(IsAllowedSite(L"http://www.example.com/", pattern)) << pattern;
        EXPECT_FALSE(IsAllowedSite(L"http://127.0.0.1/", pattern)) << pattern;
        EXPECT_FALSE(IsAllowedSite(L"http://intranet/", pattern)) << pattern;
        EXPECT_FALSE(IsAllowedSite(L"https://com/", pattern)) << pattern;
    }
    EXPECT_TRUE(IsAllowedSite(L"http://localhost:18431/", "http://localhost:18431"));
    EXPECT_TRUE(IsAllowedSite(L"http://a.example.com/", "*.example.com"));
}

TEST(SiteLock, OffInAnyCase)
{
    for (const char* off : {"off", "OFF", "Off"})
        EXPECT_TRUE(IsSiteLockOff(off)) << off;
    for (const char* on : {"of", "offf", " off", "", "127.0.0.1"})
        EXPECT_FALSE(IsSiteLockOff(on)) << on;
}

TEST(SiteLock, EmptyPatternsAllowNothing)
{
    EXPECT_FALSE(IsAllowedSite(L"http://127.0.0.1/", ""));
    EXPECT_FALSE(IsAllowedSite(L"http://127.0.0.1/", ";;"));
    EXPECT_TRUE(IsAllowedSite(L"http://127.0.0.1/", ";127.0.0.1;"));
}
