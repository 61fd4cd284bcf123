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

TEST(SiteLock, EmptyPatternsAllowNothing)
{
    EXPECT_FALSE(IsAllowedSite(L"http://127.0.0.1/", ""));
    EXPECT_FALSE(IsAllowedSite(L"http://127.0.0.1/", ";;"));
    EXPECT_TRUE(IsAllowedSite(L"http://127.0.0.1/", ";127.0.0.1;"));
}
