// The page host: a browser stand-in that must embed the control the way
// browsers do, and refuse a control that does not say it is safe.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"

using namespace wine_test;

namespace {

const char kControlClassId[] = "3693842E-C439-4246-B56C-4529932A9ABA";
// The property page: creatable, but no control and not safe for a page.
const char kPropertyPageClassId[] = "4EC3797C-E712-4833-AA77-A5D226D55993";

std::string Page(const char* classId, const char* params)
{
    return std::string("<html><head><title>page</title></head><body>\n<object classid=\"clsid:") + classId +
           "\">" + params + "</object></body></html>\n";
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

    // Runs the page host on html; returns its exit code, its output in *output.
    DWORD Open(const std::string& html, std::string* output = nullptr)
    {
        const std::string page = dir_.File("page.html"), log = dir_.File("host.log");
        WriteFileBytes(page, html);
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = out;
        PROCESS_INFORMATION info = {};
        std::string command = "\"" + ProgramDir() + "PageHost.exe\" \"" + page + "\" 20";
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

    CScratchDir dir_{"page host"};
};

}  // namespace

TEST_F(PageHost, EmbedsTheControlWhichStartsTheClientAndEndsThePage)
{
    CopyFileA((ProgramDir() + "Marovent.exe").c_str(), dir_.File("Marovent.exe").c_str(), FALSE);
    WriteSettingsValue("WorkDir", REG_SZ, dir_.Path() + '\0');
    std::string output;
    EXPECT_EQ(Open(Page(kControlClassId, "<param name='strID' value='guest'><PARAM VALUE=\"p&amp;w\" NAME=strPass>"
                                         "<param name=\"key\" value=\"42\">"),
                   &output),
              0u)
        << output;
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
