// The page host: a browser stand-in that must embed the control the way
// browsers do, and refuse a control that does not say it is safe; and the
// control in it, which acts only for pages of its own sites.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "BuildConfig.h"
#include "WineTestSupport.h"
#include "control/SiteLock.h"

using namespace wine_test;

namespace {

const char kControlClassId[] = "3693842E-C439-4246-B56C-4529932A9ABA";
// The property page: creatable, but no control and not safe for a page.
const char kPropertyPageClassId[] = "4EC3797C-E712-4833-AA77-A5D226D55993";

// Every value of the client's settings key: type and bytes by name.
std::map<std::string, std::string> SettingsValues()
{
    std::map<std::string, std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quorsel\\Marovent\\OrvMain", 0, KEY_READ, &key) != 0)
        return values;
    char name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        values[name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    RegCloseKey(key);
    return values;
}

std::string Page(const char* classId, const char* params)
{
    return std::string("<html><head><title>page</title></head><body>\n<object classid=\"clsid:") + classId + "\">" +
        params + "</object></body></html>\n";
}

const bool kSiteLockOff = IsSiteLockOff(VANTORIMA_ALLOWED_SITES);
// The tests serve their pages on loopback, from the update server's port.
bool LoopbackAllowed()
{
    const std::string page = "http://127.0.0.1:" + UpdateServerPort() + "/page.html";
    return kSiteLockOff || IsAllowedSite(std::wstring(page.begin(), page.end()).c_str(), VANTORIMA_ALLOWED_SITES);
}

class PageHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(CallModule("DllRegisterServer"), S_OK); }
    static void TearDownTestSuite() { CallModule("DllUnregisterServer"); }

    static HRESULT CallModule(const char* entry)
    {
        HMODULE module = LoadLibraryA((ProgramDir() + "Vantorima.ocx").c_str());
        auto call = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
        HRESULT result = call ? call() : E_FAIL;
        FreeLibrary(module);
        return result;
    }

    void SetUp() override
    {
        DeleteSettingsKey();
        SetEnvironmentVariableA("MAROVENT_RECORD", dir_.File("client.txt").c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("MAROVENT_RECORD", nullptr);
        DeleteSettingsKey();
    }

    // Runs the page host on html, opened from a file or, with an update
    // server, by its http address; options go before the page. Returns its
    // exit code, its output in *output.
    DWORD Open(const std::string& html, std::string* output = nullptr, const std::string& options = "",
               bool overHttp = false, int seconds = 20)
    {
        std::string page = dir_.File("page.html");
        if (overHttp) {
            WriteFileBytes(UpdateServerRoot() + "\\page.html", html);
            page = "http://127.0.0.1:" + UpdateServerPort() + "/page.html";
        } else {
            WriteFileBytes(page, html);
        }
        const std::string log = dir_.File("host.log");
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = out;
        PROCESS_INFORMATION info = {};
        std::string command =
            "\"" + ProgramDir() + "PageHost.exe\" " + options + " \"" + page + "\" " + std::to_string(seconds);
        DWORD code = 99;
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
            WaitForSingleObject(info.hProcess, 60000);
            GetExitCodeProcess(info.hProcess, &code);
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
        CloseHandle(out);
        if (output)
            *output = ReadFileBytes(log);
        return code;
    }

    // An installed client and a settings key with a value of every kind, so
    // that a launch would show in both.
    void InstallClient()
    {
        CopyFileA((ProgramDir() + "Marovent.exe").c_str(), dir_.File("Marovent.exe").c_str(), FALSE);
        WriteSettingsValue("WorkDir", REG_SZ, dir_.Path() + '\0');
        WriteSettingsValue("LoginSERV", REG_SZ, std::string("login.example:7000\0", 19));
        WriteSettingsValue("SaveStart", REG_BINARY, std::string("\x01\x00\xff", 3));
    }

    const std::string kLoginPage = Page(kControlClassId,
                                        "<param name=strID value=guest><param name=strPass value=pw>"
                                        "<param name=strServer value=evil.example:7000>");

    CScratchDir dir_{"page host"};
};

}  // namespace

TEST_F(PageHost, EmbedsTheControlWhichStartsTheClientAndEndsThePage)
{
    if (!LoopbackAllowed())
        GTEST_SKIP() << "loopback pages are not allowed by VANTORIMA_ALLOWED_SITES";
    CopyFileA((ProgramDir() + "Marovent.exe").c_str(), dir_.File("Marovent.exe").c_str(), FALSE);
    WriteSettingsValue("WorkDir", REG_SZ, dir_.Path() + '\0');
    std::string output;
    EXPECT_EQ(Open(Page(kControlClassId,
                        "<param name='strID' value='guest'><PARAM VALUE=\"p&amp;w\" NAME=strPass>"
                        "<param name=\"key\" value=\"42\">"),
                   &output, "", true),
              0u)
        << output;
    EXPECT_NE(output.find("at http://127.0.0.1:" + UpdateServerPort() + "/page.html"), std::string::npos) << output;
    ASSERT_TRUE(PumpUntil([&] { return FileExists(dir_.File("client.txt")); }));
    const std::string record = ReadFileBytes(dir_.File("client.txt"));
    EXPECT_EQ(RecordField(record, "name"), "guest");
    EXPECT_EQ(RecordField(record, "password"), "p&w");
    EXPECT_EQ(RecordField(record, "joinkey"), "42");
    EXPECT_EQ(SettingsText("LoginSERV"), "<missing>");  // the page gave no server
}

TEST_F(PageHost, RefusesWhatIsNotASafeControl)
{
    std::string output;
    EXPECT_EQ(Open(Page(kPropertyPageClassId, ""), &output), 3u);
    EXPECT_NE(output.find("refused"), std::string::npos) << output;
    EXPECT_EQ(Open(Page("00000000-1111-2222-3333-444444444444", "")), 4u);  // nothing registered
    EXPECT_EQ(Open("<html><body>no object</body></html>"), 2u);
    EXPECT_FALSE(SettingsKeyExists());  // no launch ran
}

TEST_F(PageHost, PagesOfOtherSitesGetNothingDone)
{
    if (kSiteLockOff || !LoopbackAllowed())
        GTEST_SKIP() << "VANTORIMA_ALLOWED_SITES is off or leaves out loopback";
    InstallClient();
    const auto before = SettingsValues();
    ASSERT_EQ(before.size(), 3u);
    CTraceCapture trace;
    const char* const elsewhere[] = {
        "http://127.0.0.1.evil.example/login.html",
        "http://evil.example/127.0.0.1",
        "http://evil.example/?u=http://127.0.0.1/",
        "http://127.0.0.1@evil.example/",
        "javascript:location='http://127.0.0.1/'",
        "\"\"",
        "not-an-address",
    };
    // Either way of telling the address, and a browser that loads the control
    // even though it refuses the page: the launch itself must do nothing.
    for (const char* address : elsewhere) {
        SCOPED_TRACE(address);
        const std::string url = address;
        EXPECT_EQ(Open(kLoginPage, nullptr, "--unsafe --top=" + url + " --frame=" + url, false, 1), 1u);
    }
    // Its own file (file:///...), a hostile frame in an allowed page, an
    // allowed frame in a hostile page, and a host that asks about safety but
    // cannot say where the page is.
    EXPECT_EQ(Open(kLoginPage, nullptr, "--unsafe", false, 1), 1u);
    EXPECT_EQ(Open(kLoginPage, nullptr, "--unsafe --frame=http://evil.example/", true, 1), 1u);
    EXPECT_EQ(Open(kLoginPage, nullptr, "--unsafe --top=http://evil.example/", true, 1), 1u);
    EXPECT_EQ(Open(kLoginPage, nullptr, "--unsafe --top=none --frame=none", true, 1), 1u);
    // A careful browser stops at the safety question.
    std::string output;
    EXPECT_EQ(Open(kLoginPage, &output, "--frame=http://evil.example/", true), 3u);
    EXPECT_NE(output.find("refused"), std::string::npos) << output;

    EXPECT_EQ(SettingsValues(), before);  // every value, byte for byte
    EXPECT_FALSE(FileExists(dir_.File("client.txt")));
    EXPECT_EQ(trace.Count("id : guest"), 0);  // the launch never started
    EXPECT_TRUE(trace.Contains("page refused: http://127.0.0.1@evil.example/"));
    EXPECT_TRUE(trace.Contains("page refused: <empty address>"));
    EXPECT_TRUE(trace.Contains("page refused: <no address>"));
    EXPECT_EQ(trace.Count("page refused: http://evil.example/"), 2);
}

TEST_F(PageHost, EitherWayOfTellingAnAllowedAddressIsEnough)
{
    if (!LoopbackAllowed())
        GTEST_SKIP() << "loopback pages are not allowed by VANTORIMA_ALLOWED_SITES";
    InstallClient();
    EXPECT_EQ(Open(kLoginPage, nullptr, "--frame=none", true), 0u);
    ASSERT_TRUE(PumpUntil([&] { return FileExists(dir_.File("client.txt")); }));
    EXPECT_EQ(SettingsText("LoginSERV"), "evil.example:7000");
    DeleteFileA(dir_.File("client.txt").c_str());
    EXPECT_EQ(Open(kLoginPage, nullptr, "--top=none --frame=HTTP://127.0.0.1:" + UpdateServerPort() + "/x", true), 0u);
    EXPECT_TRUE(PumpUntil([&] { return FileExists(dir_.File("client.txt")); }));
    // The same host by another scheme or port is another site, where the
    // lock names them (as its default does).
    for (const std::string& other :
         {"https://127.0.0.1:" + UpdateServerPort() + "/x", std::string("http://127.0.0.1:1/x")}) {
        if (kSiteLockOff || IsAllowedSite(std::wstring(other.begin(), other.end()).c_str(), VANTORIMA_ALLOWED_SITES))
            continue;
        SCOPED_TRACE(other);
        DeleteFileA(dir_.File("client.txt").c_str());
        EXPECT_EQ(Open(kLoginPage, nullptr, "--top=none --frame=" + other, true), 3u);
        EXPECT_FALSE(FileExists(dir_.File("client.txt")));
    }
}
