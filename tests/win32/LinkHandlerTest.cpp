// VantorimaLaunch.exe as the shell starts it, with links signed for this run
// (make_links.py), the real registry, the stand-in client and installer, and
// the local update server on the installer's port.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "BuildConfig.h"
#include "WineTestSupport.h"
#include "framework/sys/RegKey.h"
#include "handler/LinkLaunch.h"
#include "link/NonceLedger.h"
#include "handler/SchemeRegistration.h"
#include "launch/CredentialToken.h"
#include "launch/LaunchSequence.h"
#include "launch/SettingsStore.h"
#include "dialog/DownLoadDlg.h"

using namespace wine_test;

namespace {

const wchar_t kRefusedText[] = L"链接无效或已过期。\r\n\r\n请回到网页重新登录后再试。";
const wchar_t kDialogCaption[] = L"正在升级VOK围棋，请稍候";
const wchar_t kAskStop[] = L"真的终止升级吗？";

// The links make_links.py signed for this run, by name.
std::string Link(const std::string& name)
{
    const char* file = getenv("VANTORIMA_TEST_LINKS");
    if (!file)
        return std::string();
    const std::string text = ReadFileBytes(DosPath(file));
    const std::string key = name + "=";
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        if (text.compare(at, key.size(), key) == 0)
            return text.substr(at + key.size(), end - at - key.size());
        at = end + 1;
    }
    return std::string();
}

// The handler, started with arguments as the shell starts it.
class CHandler {
public:
    explicit CHandler(const std::string& arguments)
    {
        std::string command = "\"" + ProgramDir() + "VantorimaLaunch.exe\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            m_process = process.hProcess;
        }
    }
    ~CHandler()
    {
        if (m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process, 99);
        if (m_process)
            CloseHandle(m_process);
    }
    bool Started() const { return m_process != nullptr; }
    // Its exit code, or 259 (still active) when it has not ended in time.
    DWORD ExitCode(DWORD timeoutMs = 20000) const
    {
        DWORD code = STILL_ACTIVE;
        if (m_process && WaitForSingleObject(m_process, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process, &code);
        return code;
    }

private:
    HANDLE m_process = nullptr;
};

DWORD RunHandler(const std::string& arguments)
{
    CHandler handler(arguments);
    EXPECT_TRUE(handler.Started());
    return handler.ExitCode();
}

std::string Quoted(const std::string& link)
{
    return "\"" + link + "\"";
}

// Every value of a key, raw: name -> type and bytes.
using KeyValues = std::map<std::string, std::pair<DWORD, std::string>>;
KeyValues ReadKey(HKEY root, const std::string& path)
{
    KeyValues values;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[2048];
        DWORD nameLength = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        values[std::string(name, nameLength)] = {type, std::string(reinterpret_cast<char*>(data), size)};
    }
    RegCloseKey(key);
    return values;
}

std::wstring WideValue(HKEY root, const std::string& path, const wchar_t* name)
{
    wchar_t data[1024] = L"";
    DWORD size = sizeof data;
    std::wstring wide(path.begin(), path.end());
    if (RegGetValueW(root, wide.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return data;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class LinkHandler : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Link("token").empty())
            GTEST_SKIP() << "runs inside make_links.py, which signs its links";
        DeleteSettingsKey();
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kNonceLedgerPath);
        ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client_.File("Marovent.exe").c_str(), FALSE));
        SetEnvironmentVariableA("MAROVENT_RECORD", record_.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("MAROVENT_RECORD", nullptr);
        DeleteFileA(record_.c_str());
        DeleteSettingsKey();
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kNonceLedgerPath);
    }

    void Install() { WriteSettingsValue("WorkDir", REG_SZ, client_.Path() + '\0'); }
    std::string ClientRecord()
    {
        EXPECT_TRUE(PumpUntil([&] { return FileExists(record_); }));
        const std::string record = ReadFileBytes(record_);
        DeleteFileA(record_.c_str());
        return record;
    }

    CScratchDir client_{"handler client"};
    std::string record_ = client_.Path() + ".record.txt";
    CTraceCapture trace_;
};

}  // namespace

TEST_F(LinkHandler, AValidLinkLaunchesAsTheControlDoesOnceOnly)
{
    // What the control's launch writes and starts for the link's values
    // (the ANSI code page: 棋手 in GBK).
    Install();
    std::string token;
    for (int i = 0; i < 4; ++i)
        token += "0123456789abcdef";
    const LaunchProperties properties = {"\xC6\xE5\xCA\xD6one", token, "7777", "go.example:7000"};
    CLaunchSequence control([] {}, CDownLoadDlg::Open);
    control.Launch(nullptr, properties);
    const std::string controlRecord = ClientRecord();
    const KeyValues controlValues = ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath);

    DeleteSettingsKey();
    Install();
    EXPECT_EQ(RunHandler(Quoted(Link("token"))), 0u);
    const std::string handlerRecord = ClientRecord();
    EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), controlValues);
    for (const char* field : {"cmdline", "args", "name", "password", "joinkey"})
        EXPECT_EQ(RecordField(handlerRecord, field), RecordField(controlRecord, field)) << field;
    EXPECT_EQ(RecordField(handlerRecord, "name"), properties.strID);

    // A password goes as a token that the client decodes. (Each link here
    // comes as the first one of its account: AnotherAccountAsksFirst.)
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "SaveStart");
    EXPECT_EQ(RunHandler(Quoted(Link("password"))), 0u);
    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "name"), "guest");
    EXPECT_EQ(RecordField(record, "password"), "s3cret \"%s\"");
    EXPECT_EQ(trace_.Last("VantorimaLaunch exit"), "VantorimaLaunch exit 0");

    // Used again: refused, whether alone or by two instances at once.
    const KeyValues before = ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    CBoxAnswerer answerer(IDOK);
    EXPECT_EQ(RunHandler(Quoted(Link("token"))), 1u);
    EXPECT_EQ(trace_.Last("link refused"), "link refused: nonce used before");
    EXPECT_FALSE(PumpUntil([&] { return FileExists(record_); }, 1000));
    EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), before);

    RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "SaveStart");
    CHandler first(Quoted(Link("update"))), second(Quoted(Link("update")));
    const DWORD codes[] = {first.ExitCode(), second.ExitCode()};
    EXPECT_EQ(codes[0] + codes[1], 1u) << codes[0] << " " << codes[1];  // one launched, one refused
    ClientRecord();
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>(2, kRefusedText));
}

TEST_F(LinkHandler, EachRefusalShowsOneBoxChangesNothingAndStartsNothing)
{
    Install();
    WriteSettingsValue("LoginSERV", REG_SZ, std::string("old.example:1\0", 14));
    WriteSettingsValue("SaveStart", REG_BINARY, std::string("\x01\x02", 2));
    const KeyValues before = ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    std::string tampered = Link("token");
    tampered.replace(tampered.find("key=7777"), 8, "key=7778");
    std::string unknown = Link("password");
    unknown.insert(unknown.find("&exp="), "&extra=1");

    const struct {
        std::string arguments;
        const char* why;
    } cases[] = {
        {Quoted(Link("expired")), "expired"},
        {Quoted(Link("far_future")), "exp too far ahead"},
        {Quoted(Link("stranger_key")), "signature does not verify"},
        {Quoted(tampered), "signature does not verify"},
        {Quoted(unknown), "unknown parameter"},
        {Quoted(Link("not_ansi")), "id has characters outside the ANSI code page"},
        {"", "no link"},
        {Quoted(Link("password")) + " more", "more than one argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        CBoxAnswerer answerer(IDOK);
        EXPECT_EQ(RunHandler(c.arguments), 1u);
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kRefusedText});
        EXPECT_EQ(trace_.Last("link refused"), std::string("link refused: ") + c.why);
        EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), before);
        EXPECT_FALSE(FileExists(record_));
    }
    // Nothing of them reached the ledger: the not-ANSI link's nonce is free.
    EXPECT_TRUE(ReadKey(HKEY_CURRENT_USER, kNonceLedgerPath).empty());
    EXPECT_EQ(trace_.Count("suc"), 0);
}

// A link for another account than the client's last one asks first; No
// writes nothing, starts nothing and keeps the link used.
TEST_F(LinkHandler, AnotherAccountAsksFirst)
{
    const std::wstring kQuestion = L"以 mallory 的身份登录 VOK 围棋？";
    Install();
    WriteSettingsValue("SaveStart", REG_SZ, std::string(" /NAME:alice /PASSWORD:x /JOINKEY:1000") + '\0');
    const struct {
        const char* link;
        int answer;
        DWORD code;
        bool asked;
        const char* launchedAs;  // nullptr: nothing written, nothing started
    } cases[] = {
        {"same_account", IDNO, 0, false, "alice"},
        {"switch_no", IDNO, 3, true, nullptr},
        {"switch_no", IDYES, 1, false, nullptr},  // used: refused, not asked
        {"switch_yes", IDYES, 0, true, "mallory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        const KeyValues before = ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath);
        CBoxAnswerer answerer([&](const std::wstring& text) { return text == kQuestion ? c.answer : IDOK; });
        EXPECT_EQ(RunHandler(Quoted(Link(c.link))), c.code);
        const std::vector<std::wstring> texts = answerer.Texts();
        EXPECT_EQ(!texts.empty() && texts[0] == kQuestion, c.asked);
        if (c.launchedAs) {
            EXPECT_EQ(RecordField(ClientRecord(), "name"), c.launchedAs);
        } else {
            EXPECT_FALSE(PumpUntil([&] { return FileExists(record_); }, 1000));
            EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), before);
        }
    }
    EXPECT_EQ(trace_.Count("account switch declined"), 1);
    EXPECT_EQ(trace_.Count("account switch accepted"), 1);
}

// Every system code page, UTF-8 too (which refuses the best-fit flag): a
// value converts exactly or not at all.
TEST(LinkHandlerAnsi, EachCodePageConvertsExactlyOrRefuses)
{
    const struct {
        UINT codePage;
        const char* utf8;
        const char* ansi;  // nullptr: refused
    } cases[] = {
        {936, "\xE6\xA3\x8B\xE6\x89\x8Bone", "\xC6\xE5\xCA\xD6one"},  // 棋手 (sources are GBK)
        {936, "guest\xF0\x9F\x98\x80", nullptr},  // U+1F600, not in GBK
        {65001, "\xE6\xA3\x8B\xE6\x89\x8Bone", "\xE6\xA3\x8B\xE6\x89\x8Bone"},
        {65001, "guest\xF0\x9F\x98\x80", "guest\xF0\x9F\x98\x80"},
        {65001, "\xC3", nullptr},  // not UTF-8
        {1252, "caf\xC3\xA9", "caf\xE9"},
        {1252, "\xEF\xBC\xA1", nullptr},  // U+FF21: a best fit would make it 'A'
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + " " + c.utf8);
        std::string ansi = "stale";
        EXPECT_EQ(AnsiFromUtf8(c.utf8, ansi, c.codePage), c.ansi != nullptr);
        if (c.ansi) {
            EXPECT_EQ(ansi, c.ansi);
        }
    }
}

TEST_F(LinkHandler, TheNonceLedgerDropsExpiredEntriesAndKeepsLiveOnes)
{
    constexpr long long kKept = VANTORIMA_LINK_MAX_AGE;
    EXPECT_EQ(ClaimNonce("00aa00aa00aa00aa", 1000, 500), NonceClaim::Claimed);
    EXPECT_EQ(ClaimNonce("00AA00AA00AA00AA", 1000, 600), NonceClaim::UsedBefore);
    EXPECT_EQ(ClaimNonce("11bb11bb11bb11bb", 3000, 700), NonceClaim::Claimed);
    EXPECT_EQ(ClaimNonce("..\\x", 3000, 700), NonceClaim::Unavailable);
    // Past its exp the entry stays for the longest validity: a clock set back
    // that far finds the link used.
    EXPECT_EQ(ClaimNonce("33dd33dd33dd33dd", 3000, 1000 + kKept), NonceClaim::Claimed);
    EXPECT_EQ(ClaimNonce("00aa00aa00aa00aa", 1000, 999), NonceClaim::UsedBefore);
    // After that it goes, the others stay.
    EXPECT_EQ(ClaimNonce("22cc22cc22cc22cc", 3000, 1001 + kKept), NonceClaim::Claimed);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, std::string(kNonceLedgerPath) + "\\00aa00aa00aa00aa"));
    EXPECT_EQ(ClaimNonce("11bb11bb11bb11bb", 3000, 1001 + kKept), NonceClaim::UsedBefore);
}

TEST_F(LinkHandler, RegisterAndUnregisterWriteAndRemoveExactlyTheirKeys)
{
    const std::string key = SchemeKeyPath();
    const std::wstring program = [] {
        const std::string path = ProgramDir() + "VantorimaLaunch.exe";
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        return std::wstring(wide);
    }();
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const bool machine = root == HKEY_LOCAL_MACHINE;
        SCOPED_TRACE(machine ? "machine" : "user");
        const std::string scope = machine ? " /machine" : "";
        const HKEY other = machine ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        CRegKey::DeleteTree(root, key.c_str());
        CRegKey::DeleteTree(other, key.c_str());
        // Under Wine every file is its user's (Wine ignores a change of owner):
        // the handler here is a program that a user can rewrite, which is
        // never registered for every user. What an administrator's install
        // wrote stands in for the machine's registration.
        const auto registered = [&]() -> DWORD {
            if (!machine)
                return RunHandler("/register");
            EXPECT_EQ(RunHandler("/register /machine"), 4u);
            EXPECT_EQ(trace_.Last("register machine"),
                      "register machine refused: the program file is not the administrators' alone (owner): "
                      "register per user");
            EXPECT_FALSE(KeyExists(root, key));
            EXPECT_FALSE(KeyExists(other, key));
            return static_cast<DWORD>(RegisterScheme(SchemeScope::Machine, program.c_str()));
        };

        EXPECT_EQ(registered(), 0u);
        EXPECT_EQ(WideValue(root, key, nullptr), L"URL:VOK 围棋");
        EXPECT_EQ(WideValue(root, key, L"URL Protocol"), L"");
        EXPECT_EQ(WideValue(root, key + "\\DefaultIcon", nullptr), program + L",0");
        EXPECT_EQ(WideValue(root, key + "\\shell\\open\\command", nullptr), L"\"" + program + L"\" \"%1\"");
        EXPECT_FALSE(KeyExists(other, key));

        EXPECT_EQ(RunHandler("/unregister" + scope), 0u);
        EXPECT_FALSE(KeyExists(root, key));
        EXPECT_EQ(RunHandler("/unregister" + scope), 0u);  // nothing there: still done

        // What another program added under the scheme stays.
        EXPECT_EQ(registered(), 0u);
        HKEY foreign;
        ASSERT_EQ(RegCreateKeyExA(root, (key + "\\shell\\edit").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &foreign,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(foreign);
        EXPECT_EQ(RunHandler("/unregister" + scope), 0u);
        EXPECT_TRUE(KeyExists(root, key + "\\shell\\edit"));
        EXPECT_FALSE(KeyExists(root, key + "\\shell\\open"));
        EXPECT_FALSE(KeyExists(root, key + "\\DefaultIcon"));
        EXPECT_TRUE(ReadKey(root, key).empty());
        CRegKey::DeleteTree(root, key.c_str());
    }
    EXPECT_EQ(RunHandler("/register /elsewhere"), 4u);
}

class LinkHandlerUpdate : public LinkHandler {
protected:
    void SetUp() override
    {
        LinkHandler::SetUp();
        if (IsSkipped())
            return;
        if (UpdateServerPort().empty())
            GTEST_SKIP() << "runs inside testbed/update_server.py on the installer's port";
        ASSERT_FALSE(ServeInstaller().empty());
        SetEnvironmentVariableA("TMP", temp_.Path().c_str());
        SetEnvironmentVariableA("TEMP", temp_.Path().c_str());
        SetEnvironmentVariableA("MAROVENT_INSTALLER_RECORD", installerRecord_.c_str());
        SetEnvironmentVariableA("VANTORIMA_INSTALL_DIR", install_.Path().c_str());
    }
    void TearDown() override
    {
        for (const char* name : {"TMP", "TEMP", "MAROVENT_INSTALLER_RECORD", "VANTORIMA_INSTALL_DIR"})
            SetEnvironmentVariableA(name, nullptr);
        SetUpdateServerModes("");
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            CRegKey::DeleteTree(root, SchemeKeyPath().c_str());
        LinkHandler::TearDown();
    }
    // The dialog, once its controls are made.
    HWND Dialog() const
    {
        const HWND dialog = FindWindowW(L"#32770", kDialogCaption);
        return dialog && GetDlgItem(dialog, 203) ? dialog : nullptr;
    }

    CScratchDir temp_{"handler temp"}, install_{"handler install"};
    std::string installerRecord_ = temp_.Path() + ".installer.txt";
};

TEST_F(LinkHandlerUpdate, WithoutTheClientTheDialogDownloadsInstallsAndStarts)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=20,65536"));
    CHandler handler(Quoted(Link("update")));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (dialog = Dialog()) != nullptr; }));
    // A top-level window of its own: no parent, no owner.
    EXPECT_EQ(GetAncestor(dialog, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);
    EXPECT_NE(GetDlgItem(dialog, 201), nullptr);  // the animation
    SaveScreenshot("link-handler-update-dialog");
    EXPECT_EQ(handler.ExitCode(60000), 0u);
    EXPECT_TRUE(PumpUntil([&] { return FileExists(installerRecord_); }));
    EXPECT_EQ(RecordField(ReadFileBytes(installerRecord_), "installed"), "yes");
    // The installer put the handler beside the client, in the user's own
    // folder, and registered it for the user alone.
    EXPECT_EQ(RecordField(ReadFileBytes(installerRecord_), "handler"), "yes");
    const std::string command = SchemeKeyPath() + "\\shell\\open\\command";
    EXPECT_EQ(WideValue(HKEY_CURRENT_USER, command, nullptr).find(L"VantorimaLaunch.exe\" \"%1\""),
              install_.Path().size() + 2);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SchemeKeyPath()));
    EXPECT_EQ(SettingsText("WorkDir"), install_.Path());
    EXPECT_EQ(SettingsText("SaveStart"),
              " /NAME:player /PASSWORD:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef /JOINKEY:1000");
    EXPECT_TRUE(trace_.Contains("delete m_downLoaddlg"));
}

TEST_F(LinkHandlerUpdate, StoppedAndClosedTheHandlerEndsWithoutInstalling)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=150,8192"));
    CBoxAnswerer answerer(IDYES);
    CHandler handler(Quoted(Link("update_stop")));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (dialog = Dialog()) != nullptr; }));
    const HWND button = GetDlgItem(dialog, 203);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(203, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty(); }));
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskStop});
    PumpFor(500);
    EXPECT_EQ(handler.ExitCode(0), static_cast<DWORD>(STILL_ACTIVE));  // stopped, still open
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(203, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(handler.ExitCode(10000), 3u);
    EXPECT_FALSE(FileExists(installerRecord_));
    EXPECT_EQ(SettingsText("WorkDir"), "<missing>");
}

TEST_F(LinkHandlerUpdate, AFailedDownloadShowsItsBoxAndEndsTheHandler)
{
    ASSERT_TRUE(SetUpdateServerModes("~status=500"));
    CBoxAnswerer answerer(IDOK);
    EXPECT_EQ(RunHandler(Quoted(Link("update"))), 2u);
    EXPECT_EQ(answerer.Texts().size(), 1u);
    EXPECT_FALSE(FileExists(installerRecord_));
}
