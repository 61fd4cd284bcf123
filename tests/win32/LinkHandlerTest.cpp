// VantorimaLaunch.exe as the shell starts it, with links signed for this run
// (make_links.py), the real registry, the stand-in client and installer, and
// the local update server on the installer's port.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "BuildConfig.h"
#include "WineTestSupport.h"
#include "framework/sys/RegKey.h"
#include "handler/AdminOnlyPath.h"
#include "handler/LinkLaunch.h"
#include "link/NonceLedger.h"
#include "handler/SchemeRegistration.h"
#include "launch/CredentialToken.h"
#include "launch/LaunchSequence.h"
#include "launch/SettingsStore.h"
#include "dialog/DownLoadDlg.h"
#include "support/MessageCaption.h"
#include "handler/SelfInstall.h"
#include "handler/SelfRenewal.h"
#include "terminator/ProcessList.h"

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
    explicit CHandler(const std::string& arguments) : CHandler(ProgramDir() + "VantorimaLaunch.exe", arguments) {}
    CHandler(const std::string& program, const std::string& arguments)
    {
        std::string command = "\"" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            CloseHandle(process.hThread);
            m_process = process.hProcess;
            m_id = process.dwProcessId;
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
    DWORD Id() const { return m_id; }
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
    DWORD m_id = 0;
};

DWORD RunHandler(const std::string& arguments, const std::string& program = ProgramDir() + "VantorimaLaunch.exe")
{
    CHandler handler(program, arguments);
    EXPECT_TRUE(handler.Started());
    return handler.ExitCode();
}

std::string Quoted(const std::string& link)
{
    return "\"" + link + "\"";
}

std::string NonceOf(const std::string& link)
{
    const size_t at = link.find("&nonce=") + 7;
    return link.substr(at, link.find('&', at) - at);
}

// The stand-in client's window (MAROVENT_SHOW_MS), or null.
HWND StandInClientWindow()
{
    struct Search {
        static BOOL CALLBACK Next(HWND window, LPARAM found)
        {
            char text[32] = "";
            GetWindowTextA(window, text, sizeof text);
            if (strncmp(text, " Marovent (stand-in client)", 27) != 0)
                return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
    };
    HWND found = nullptr;
    EnumWindows(&Search::Next, reinterpret_cast<LPARAM>(&found));
    return found;
}

// What the page reads about a link (the server's /link/state, with the watch
// token make_links.py gave the run's links), once the launcher's report is in.
std::string LinkState(const std::string& name, const char* expected)
{
    const std::string path = "/link/state?nonce=" + NonceOf(Link(name)) + "&watch=" + Link("watch");
    PumpUntil([&] { return UpdateServerText(path) == expected; }, 5000);
    return UpdateServerText(path);
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

std::wstring Wide(const std::string& ansi)
{
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH);
    return wide;
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
    // The stand-in client ends right after its record; while it runs, a link
    // for its account only brings it to the front.
    static void WaitForTheClientToEnd()
    {
        PumpUntil([] {
            ProcessEntry table[512];
            const size_t count = ListProcessesSnapshot(table, 512);
            for (size_t i = 0; i < count; ++i)
                if (lstrcmpiA(table[i].exeName, "Marovent.exe") == 0)
                    return false;
            return true;
        });
    }
    std::string ClientRecord()
    {
        const std::string record = WaitForRecord(record_);
        EXPECT_FALSE(record.empty());
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
    const std::string since = LogTimeNow();
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
    WaitForTheClientToEnd();

    DeleteSettingsKey();
    Install();
    CHandler launched(Quoted(Link("token")));
    EXPECT_EQ(launched.ExitCode(), 0u);
    const std::string handlerRecord = ClientRecord();
    EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), controlValues);
    for (const char* field : {"cmdline", "args", "name", "password", "joinkey"})
        EXPECT_EQ(RecordField(handlerRecord, field), RecordField(controlRecord, field)) << field;
    EXPECT_EQ(RecordField(handlerRecord, "name"), properties.strID);

    // A password goes as a token that the client decodes. (Each link here
    // comes as the first one of its account: AnotherAccountAsksFirst.)
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "SaveStart");
    WaitForTheClientToEnd();
    EXPECT_EQ(RunHandler(Quoted(Link("password"))), 0u);
    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "name"), "guest");
    EXPECT_EQ(RecordField(record, "password"), "s3cret \"%s\"");
    EXPECT_EQ(trace_.Last("VantorimaLaunch exit"), "VantorimaLaunch exit 0");
    const std::string saved = SettingsText("SaveStart");
    const size_t tokenAt = saved.find("/PASSWORD:") + 10;
    const std::string passwordToken = saved.substr(tokenAt, saved.find(' ', tokenAt) - tokenAt);

    // Used again: refused, whether alone or by two instances at once.
    const KeyValues before = ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath);
    CBoxAnswerer answerer(IDOK);
    CHandler used(Quoted(Link("token")));
    EXPECT_EQ(used.ExitCode(), 1u);
    EXPECT_EQ(trace_.Last("link refused"), "link refused: nonce used before");
    EXPECT_FALSE(PumpUntil([&] { return FileExists(record_); }, 1000));
    EXPECT_EQ(ReadKey(HKEY_CURRENT_USER, kSettingsKeyPath), before);

    RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "SaveStart");
    WaitForTheClientToEnd();
    CHandler first(Quoted(Link("update"))), second(Quoted(Link("update")));
    const DWORD codes[] = {first.ExitCode(), second.ExitCode()};
    EXPECT_EQ(codes[0] + codes[1], 1u) << codes[0] << " " << codes[1];  // one launched, one refused
    ClientRecord();
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>(2, kRefusedText));

    // The user's log has each run's lines with their time, process and
    // program, and no password, token, join key or signature, whoever wrote.
    const std::vector<LogLine> ran = LogLinesOf(launched.Id(), since), refused = LogLinesOf(used.Id(), since);
    ASSERT_FALSE(ran.empty());
    ASSERT_FALSE(refused.empty());
    for (const std::vector<LogLine>* lines : {&ran, &refused}) {
        for (const LogLine& line : *lines) {
            EXPECT_EQ(line.program, "launcher") << line.text;
            EXPECT_EQ(line.text.find("7777"), std::string::npos) << line.text;
        }
    }
    const auto has = [](const std::vector<LogLine>& lines, const char* text) {
        return std::any_of(lines.begin(), lines.end(), [&](const LogLine& line) { return line.text == text; });
    };
    EXPECT_TRUE(has(ran, "m_key : <4 bytes>"));
    EXPECT_TRUE(has(ran, "VantorimaLaunch exit 0"));
    EXPECT_TRUE(has(refused, "link refused: nonce used before"));
    EXPECT_TRUE(has(refused, "box: 链接无效或已过期。请回到网页重新登录后再试。"));  // what the player read
    // On the Windows 9x road too (no LocalLow, no appending write).
    const char nineXKey[] = "Software\\Wine\\AppDefaults\\VantorimaLaunch.exe";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, nineXKey, "Version", REG_SZ, "win98", 6), ERROR_SUCCESS);
    CHandler nineX("\"\"");
    EXPECT_EQ(nineX.ExitCode(), 1u);
    RegDeleteTreeA(HKEY_CURRENT_USER, nineXKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, nineXKey);
    EXPECT_TRUE(has(LogLinesOf(nineX.Id(), since), "link refused: no link"));
    std::vector<std::string> secrets = {token, "s3cret", passwordToken};
    for (const char* name : {"token", "password", "update"})
        secrets.push_back(Link(name).substr(Link(name).find("&sig=") + 5));
    const std::vector<std::string> log = ReadLog();
    for (const std::string& line : log) {
        LogLine parsed;
        EXPECT_TRUE(ParseLogLine(line, parsed)) << line;
        for (const std::string& secret : secrets)
            EXPECT_EQ(line.find(secret), std::string::npos) << secret << " in " << line;
    }
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
        {"\"\"", "no link"},
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
    const std::wstring kQuestion = L"VOK 围棋上次以 alice 的身份登录。\r\n\r\n改以 mallory 的身份登录吗？";
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
    const std::wstring program = Wide(ProgramDir() + "VantorimaLaunch.exe");
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
    for (const char* switches : {"/register /elsewhere", "/install /loud", "/uninstall /quiet /quiet"})
        EXPECT_EQ(RunHandler(switches), 4u) << switches;
}

// Every user's browser would start a machine-wide registration's program:
// one that a user can reach by a path through a junction or link, or whose
// folder, or any folder above it, a user may rename or re-permit, is not
// registered for the machine.
TEST_F(LinkHandler, AMachineRegistrationRefusesALinkedPathAndFoldersUsersMayChange)
{
    // The decision on each folder's security, as Windows' own folders have it
    // (under Wine every file is its user's, whatever its DACL).
    const wchar_t* const kAdmins = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const struct {
        const wchar_t* sddl;
        ACCESS_MASK rights;
        const char* fault;
    } folders[] = {
        // A volume's root: every user may add folders, not rename them.
        {L"O:SYD:(A;;0x1200a9;;;BU)(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)", kRenameRights, nullptr},
        {L"O:SYD:(A;;0x1200a9;;;BU)(A;;0x4;;;AU)", kChangeRights, "writable by another account"},  // the program's
        // TrustedInstaller's (Program Files): nothing for users but reading.
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;0x1200a9;;;BU)", kRenameRights,
         nullptr},
        {L"O:BAD:(A;;SD;;;BU)", kRenameRights, "writable by another account"},  // users may rename it
        {L"O:BAD:(A;;0x40;;;BU)", kRenameRights, "writable by another account"},  // or rename what is in it
        {L"O:BAD:(A;;WD;;;AU)", kRenameRights, "writable by another account"},  // or re-permit it
        {L"O:BUD:", kRenameRights, "owner"},
    };
    for (const auto& folder : folders) {
        const std::wstring sddl = std::wstring(folder.sddl) + kAdmins;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(
            ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        const char* fault = AdminOnlyFault(descriptor, folder.rights);
        EXPECT_STREQ(fault, folder.fault) << std::string(sddl.begin(), sddl.end());
        LocalFree(descriptor);
    }

    // The launcher through a link to its folder (a Unix symbolic link, which
    // Wine shows as a reparse point; Wine makes no junctions).
    CScratchDir dir("machine registration");
    const std::string real = dir.File("real"), linked = dir.File("linked");
    ASSERT_TRUE(CreateDirectoryA(real.c_str(), nullptr));
    ASSERT_TRUE(
        CopyFileA((ProgramDir() + "VantorimaLaunch.exe").c_str(), (real + "\\VantorimaLaunch.exe").c_str(), FALSE));
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    ASSERT_NE(unixName, nullptr) << "runs under Wine";
    char* from = unixName(Wide(real).c_str());
    char* to = unixName(Wide(linked).c_str());
    std::string command = std::string("/bin/ln -s \"") + from + "\" \"" + to + "\"";
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, to);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessA("Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(PumpUntil([&] { return FileExists(linked + "\\VantorimaLaunch.exe"); }));
    const std::string key = SchemeKeyPath();
    CRegKey::DeleteTree(HKEY_LOCAL_MACHINE, key.c_str());
    EXPECT_EQ(RunHandler("/register /machine", linked + "\\VantorimaLaunch.exe"), 4u);
    EXPECT_EQ(trace_.Last("register machine"),
              "register machine refused: the program path is not the administrators' alone (passes a junction or "
              "symbolic link): register per user");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    DeleteFileA((real + "\\VantorimaLaunch.exe").c_str());
    RemoveDirectoryA(linked.c_str());
    DeleteFileA(linked.c_str());
    RemoveDirectoryA(real.c_str());
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
    // Once the installer has ended well, the client starts with the link's values.
    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "name"), "player");
    EXPECT_EQ(RecordField(record, "cwd"), install_.Path());
    EXPECT_EQ(trace_.Last("installed client"), "installed client started");
    // The service heard of the dialog, then of the client.
    EXPECT_EQ(LinkState("update", "started"), "started");
    const std::string reports = UpdateServerText("/link/reports");
    EXPECT_LT(reports.find("outcome=installing"), reports.find("outcome=started")) << reports;
}

TEST_F(LinkHandlerUpdate, AfterTheInstallerOnlyAnInstalledClientThatDoesNotRunYetStarts)
{
    const struct {
        const char* what;
        bool installs;
        bool clientRuns;
        const char* trace;
        const char* state;
    } cases[] = {
        {"the installer fails", false, false, "installer ended with 1: no client started", "failed:installer"},
        {"a client runs already", true, true, "a client runs already", "refused:running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteSettingsKey();
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kNonceLedgerPath);
        // A folder that cannot be made: the installer ends with 1.
        SetEnvironmentVariableA("VANTORIMA_INSTALL_DIR",
                                c.installs ? install_.Path().c_str() : install_.File("none\\deeper").c_str());
        // A client that starts while the download runs (as the installer itself may start it).
        ASSERT_TRUE(SetUpdateServerModes(c.clientRuns ? "~slow=20,65536" : ""));
        CHandler handler(Quoted(Link(c.clientRuns ? "update_stop" : "update")));
        std::unique_ptr<CHandler> running;
        if (c.clientRuns) {
            // Once the download reads, the running-client check is behind it.
            ASSERT_TRUE(PumpUntil([&] {
                char status[128] = "";
                return Dialog() && GetDlgItemTextA(Dialog(), 204, status, sizeof status) &&
                    std::strstr(status, "Read ");
            }));
            running = std::make_unique<CHandler>(ProgramDir() + "Marovent.exe", "/STAYMS:30000");
            ClientRecord();
        }
        EXPECT_EQ(handler.ExitCode(60000), 0u);
        EXPECT_EQ(trace_.Last(c.trace), c.trace);
        EXPECT_FALSE(PumpUntil([&] { return FileExists(record_); }, 1000));
        EXPECT_EQ(LinkState(c.clientRuns ? "update_stop" : "update", c.state), c.state);
        DeleteFileA(installerRecord_.c_str());
    }
}

TEST_F(LinkHandlerUpdate, StoppedAndClosedTheHandlerEndsWithoutInstalling)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=150,8192"));
    CBoxAnswerer answerer(IDYES);
    CHandler handler(Quoted(Link("update_stop")));
    HWND dialog = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (dialog = Dialog()) != nullptr; }));
    // Stopped once some of the installer has arrived.
    ASSERT_TRUE(PumpUntil([&] {
        char status[128] = "";
        return GetDlgItemTextA(dialog, 204, status, sizeof status) && std::strstr(status, "Read ");
    }));
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
    EXPECT_EQ(LinkState("update_stop", "failed:stopped"), "failed:stopped");

    // The next press continues the download where it stopped: only the rest
    // goes over the line, and the installer runs.
    const auto parts = FilesMatching(temp_.File("Vantorima-partial\\*.part"));
    ASSERT_EQ(parts.size(), 1u);
    const size_t kept = parts[0].second, size = ReadFileBytes(ServeInstaller()).size();
    ASSERT_GT(kept, 0u);
    // The stopped request is logged once the server finds it gone: before the next log starts.
    EXPECT_TRUE(PumpUntil([] { return !UpdateServerRequests().empty(); }));
    ASSERT_TRUE(SetUpdateServerModes(""));
    EXPECT_EQ(RunHandler(Quoted(Link("update"))), 0u);
    EXPECT_TRUE(PumpUntil([&] { return FileExists(installerRecord_); }));
    EXPECT_EQ(UpdateServerRequests(),
              (std::vector<std::string>{"/service/VokWeiqi.exe range=bytes=" + std::to_string(kept) +
                                        "- status=206 sent=" + std::to_string(size - kept)}));
}

TEST_F(LinkHandlerUpdate, AFailedDownloadShowsItsBoxAndEndsTheHandler)
{
    ASSERT_TRUE(SetUpdateServerModes("~status=500"));
    CBoxAnswerer answerer(IDOK);
    EXPECT_EQ(RunHandler(Quoted(Link("update"))), 2u);
    EXPECT_EQ(answerer.Texts().size(), 1u);
    EXPECT_FALSE(FileExists(installerRecord_));
    EXPECT_EQ(LinkState("update", "failed:download"), "failed:download");
}

namespace {

// The screen's DPI (100 % is 96) for the programs that start while the
// object lives: Wine reads it as each process starts, and makes every
// process per-monitor aware whatever its manifest says. The session's own
// value comes back as soon as the program has read it, since other tests'
// programs start beside this one.
class CScreenDpi {
public:
    explicit CScreenDpi(DWORD dpi)
    {
        DWORD size = sizeof m_previous;
        m_hadOne = RegGetValueA(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD, nullptr, &m_previous, &size) ==
            ERROR_SUCCESS;
        Set(&dpi);
    }
    ~CScreenDpi() { Restore(); }
    void Restore()
    {
        if (!m_restored)
            Set(m_hadOne ? &m_previous : nullptr);
        m_restored = true;
    }

private:
    static void Set(const DWORD* dpi)
    {
        if (dpi)
            RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, dpi, sizeof *dpi);
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, kValue);
    }
    static constexpr const char* kKey = "Control Panel\\Desktop";
    static constexpr const char* kValue = "LogPixels";
    DWORD m_previous = 0;
    bool m_hadOne = false;
    bool m_restored = false;
};

// A window's rectangle in its top-level window's client coordinates.
RECT PlaceIn(HWND dialog, HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// How many rows of the window's client area, right of column `from`, hold
// a colour other than the background's (its last column's colour): the
// height of what is drawn there, as the screen shows it.
int InkRows(HWND window, int from)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    int rows = 0;
    for (int y = 0; y < height; ++y) {
        const DWORD* row = pixels + y * width;
        rows += std::any_of(row + std::max(from, 0), row + width - 1, [&](DWORD p) { return p != row[width - 1]; });
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rows;
}

}  // namespace

// At 150 % and 200 % the launcher's dialog and boxes are laid out and drawn
// for the screen, not stretched: the self-painted bar and its label grow
// with the dialog, the board keeps its frames' size, centred where the
// grown frames would lie, and the box's buttons grow too. Screenshots of
// each go to the artifacts.
TEST_F(LinkHandlerUpdate, TheDialogAndItsBoxGrowWithTheScreensDpi)
{
    struct Measured {
        int barHeight = 0, labelRows = 0, boxButtonHeight = 0;
        RECT board{}, dialog{};
    };
    Measured at96;
    for (const DWORD dpi : {96, 144, 192}) {
        SCOPED_TRACE(dpi);
        const std::string name = "launcher-dpi" + std::to_string(dpi);
        CRegKey::DeleteTree(HKEY_CURRENT_USER, kNonceLedgerPath);
        ASSERT_TRUE(SetUpdateServerModes("~slow=150,8192"));
        Measured now;
        std::atomic<int> boxButtonHeight{0};
        CBoxAnswerer answerer([&](const std::wstring&) {
            RECT button = {};
            GetWindowRect(GetDlgItem(FindWindowA("#32770", kMessageCaption), IDYES), &button);
            boxButtonHeight = button.bottom - button.top;
            SaveScreenshot(name + "-box");
            return IDYES;
        });
        CScreenDpi screen(dpi);
        CHandler handler(Quoted(Link("update_stop")));
        HWND dialog = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (dialog = Dialog()) != nullptr; }));
        screen.Restore();
        const HWND bar = GetDlgItem(dialog, 202), board = GetDlgItem(dialog, 201);
        ASSERT_TRUE(PumpUntil([&] {
            const int pos = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
            return pos > 0 && pos < 50;
        }));
        PumpFor(200);  // the label painted
        RECT client;
        GetClientRect(bar, &client);
        now.barHeight = client.bottom;
        // The label, where it lies beyond the bar.
        now.labelRows = InkRows(bar, client.right / 2 + 1);
        now.board = PlaceIn(dialog, board);
        GetClientRect(dialog, &now.dialog);
        SaveScreenshot(name + "-update-dialog");

        const HWND button = GetDlgItem(dialog, 203);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(203, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty(); }));
        PumpFor(300);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(203, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        EXPECT_EQ(handler.ExitCode(10000), 3u);
        now.boxButtonHeight = boxButtonHeight;

        if (dpi == 96) {
            at96 = now;
            continue;
        }
        // Dialog units follow the font's own metrics, which grow a little
        // slower than the DPI: the template's controls grow as the dialog does.
        const auto grownX = [&](int pixels) { return MulDiv(pixels, now.dialog.right, at96.dialog.right); };
        const auto grownY = [&](int pixels) { return MulDiv(pixels, now.dialog.bottom, at96.dialog.bottom); };
        EXPECT_NEAR(now.barHeight, grownY(at96.barHeight), 2);
        // The label's font and the boxes grow with the DPI itself.
        const auto grown = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
        EXPECT_NEAR(now.labelRows, grown(at96.labelRows), grown(at96.labelRows) / 5 + 1);
        EXPECT_NEAR(now.boxButtonHeight, grown(at96.boxButtonHeight), grown(at96.boxButtonHeight) / 5 + 1);
        // The board: its frames' size, centred where the grown frames would lie.
        const int width = at96.board.right - at96.board.left, height = at96.board.bottom - at96.board.top;
        EXPECT_EQ(now.board.right - now.board.left, width);
        EXPECT_EQ(now.board.bottom - now.board.top, height);
        EXPECT_NEAR(now.board.left + width / 2, grownX(at96.board.left) + grown(width) / 2, 3);
        EXPECT_NEAR(now.board.top + height / 2, grownY(at96.board.top) + grown(height) / 2, 3);
    }
    EXPECT_GT(at96.labelRows, 5);
}

// Every link whose signature verifies is reported to the service with its
// nonce, its outcome and the launcher's version, and nothing else; a link
// for the account whose game runs brings that game to the front.
TEST_F(LinkHandlerUpdate, AVerifiedLinkIsReportedByItsNonceOutcomeAndVersionAlone)
{
    Install();
    const struct {
        const char* link;
        const char* account;  // the client's last account, or null for none
        bool clientRuns;  // the stand-in client runs, with a window
        const char* modes;  // the server's standing modes
        DWORD code;
        const char* state;  // what the page then reads
        bool clientGone = false;  // the client's folder is recorded, its program is not there
    } cases[] = {
        {"token", nullptr, false, "", 0, "started"},
        {"token", nullptr, false, "", 1, "started"},  // used: a second launcher's word changes nothing
        {"expired", nullptr, false, "", 1, "refused:expired"},
        {"stranger_key", nullptr, false, "", 1, "pending"},  // does not verify: nobody's, never reported
        {"switch_no", "alice", false, "", 3, "refused:declined"},
        {"password", nullptr, false, "~stall=0", 0, "pending"},  // a service that never answers
        {"same_account", "alice", true, "", 0, "refused:running"},
        {"switch_yes", nullptr, false, "", 0, "failed:client", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        if (c.account)
            WriteSettingsValue("SaveStart", REG_SZ,
                               std::string(" /NAME:") + c.account + " /PASSWORD:x /JOINKEY:1000" + '\0');
        else
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, "SaveStart");
        ASSERT_TRUE(SetUpdateServerModes(c.modes));
        WriteSettingsValue("WorkDir", REG_SZ, (c.clientGone ? install_.Path() : client_.Path()) + '\0');
        std::unique_ptr<CHandler> client;
        HWND window = nullptr;
        if (c.clientRuns) {
            SetEnvironmentVariableA("MAROVENT_SHOW_MS", "30000");
            client = std::make_unique<CHandler>(ProgramDir() + "Marovent.exe", "/STAYMS:30000");
            SetEnvironmentVariableA("MAROVENT_SHOW_MS", nullptr);
            ClientRecord();
            ASSERT_TRUE(PumpUntil([&] { return (window = StandInClientWindow()) != nullptr; }));
            ShowWindow(window, SW_MINIMIZE);
        }
        // No to the account question, OK to a refusal.
        CBoxAnswerer answerer([](const std::wstring& text) { return text == kRefusedText ? IDOK : IDNO; });
        const DWORD start = GetTickCount();
        EXPECT_EQ(RunHandler(Quoted(Link(c.link))), c.code);
        if (*c.modes)
            printf("the launcher's exit, its report unanswered: %lu ms\n", GetTickCount() - start);
        if (c.code == 0 && !c.clientRuns && !c.clientGone)
            ClientRecord();
        else
            EXPECT_FALSE(PumpUntil([&] { return FileExists(record_); }, 1000));
        if (window) {
            EXPECT_FALSE(IsIconic(window));
            EXPECT_EQ(GetForegroundWindow(), window);
        }
        EXPECT_EQ(LinkState(c.link, c.state), c.state);
    }
    EXPECT_EQ(trace_.Count("a client runs for alice: brought to the front"), 1);
    EXPECT_EQ(trace_.Last("link report"), "link report unanswered after 3000 ms");

    // As the service recorded them: the bodies hold these three fields alone,
    // none of the account, password, token, join key, server or signature.
    const std::string reports = UpdateServerText("/link/reports");
    std::string expected;
    for (const auto& report :
         {std::make_pair("token", "started"), std::make_pair("token", "refused:used"),
          std::make_pair("expired", "refused:expired"), std::make_pair("switch_no", "refused:declined"),
          std::make_pair("same_account", "refused:running"), std::make_pair("switch_yes", "failed:client")})
        expected += std::string("application/x-www-form-urlencoded nonce=") + NonceOf(Link(report.first)) +
            "&outcome=" + report.second + "&version=1.0.0.2\n";
    EXPECT_EQ(reports, expected);
    const std::string token = Link("token");
    for (const std::string& secret : {std::string("0123456789abcdef"), std::string("7777"), std::string("go.example"),
                                      token.substr(token.find("&sig=") + 5), std::string("one"), std::string("guest"),
                                      std::string("mallory"), std::string("alice")})
        EXPECT_EQ(reports.find(secret), std::string::npos) << secret;
}

namespace {

const wchar_t kInstalledText[] = L"VOK 围棋启动器已经装好。\r\n\r\n请回到网页，再按一次“开始游戏”。";
const wchar_t kInstallFailedText[] = L"VOK 围棋启动器无法写入文件夹或注册表，未能安装。";

// Every key and value below root\path, and every file (with its bytes and
// time) below a folder, as text to compare.
std::string KeyTree(HKEY root, const std::string& path)
{
    if (!KeyExists(root, path))
        return std::string();
    std::string text = path + "\n";
    for (const auto& value : ReadKey(root, path))
        text += "  " + value.first + "=" + std::to_string(value.second.first) + ":" + value.second.second + "\n";
    HKEY key;
    RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0, length = sizeof name;
         RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name)
        names.emplace_back(name);
    RegCloseKey(key);
    for (const std::string& below : names)
        text += KeyTree(root, path + "\\" + below);
    return text;
}

std::string FileTree(const std::string& folder)
{
    std::string text;
    WIN32_FIND_DATAA found;
    const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return text;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "\\" + name;
        text += path + " " + std::to_string(found.ftLastWriteTime.dwLowDateTime) + "\n";
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            text += FileTree(path);
            continue;
        }
        unsigned hash = 2166136261u;  // FNV-1a of the bytes
        for (char c : ReadFileBytes(path))
            hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        text += "  " + std::to_string(hash) + "\n";
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return text;
}

std::string LocalFolder()
{
    char local[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    return local;
}

// The handler's bytes with another file version in its version block.
std::string WithVersion(long long delta)
{
    std::string bytes = ReadFileBytes(ProgramDir() + "VantorimaLaunch.exe");
    const size_t key = bytes.find(std::string(reinterpret_cast<const char*>(L"VS_VERSION_INFO"), 30));
    const size_t fixed = key == std::string::npos ? key : bytes.find("\xBD\x04\xEF\xFE", key);
    if (fixed == std::string::npos)
        return std::string();
    DWORD parts[2];
    memcpy(parts, &bytes[fixed + 8], sizeof parts);
    unsigned long long version = (static_cast<unsigned long long>(parts[0]) << 32 | parts[1]) + delta;
    parts[0] = static_cast<DWORD>(version >> 32), parts[1] = static_cast<DWORD>(version);
    memcpy(&bytes[fixed + 8], parts, sizeof parts);
    return bytes;
}

class LauncherInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        // A temporary folder of the test's own: what an uninstall leaves there is seen.
        for (const char* name : {"TMP", "TEMP"})
            SetEnvironmentVariableA(name, temp_.Path().c_str());
        ASSERT_TRUE(CopyFileA((ProgramDir() + "VantorimaLaunch.exe").c_str(), download_.c_str(), FALSE));
        CreateDirectoryA(programs_.c_str(), nullptr);
        before_ = State();
    }
    void TearDown() override
    {
        Clean();
        for (const char* name : {"TMP", "TEMP"})
            SetEnvironmentVariableA(name, nullptr);
    }

    void Clean()
    {
        for (const char* path : {kUninstallEntryPath, kNonceLedgerPath})
            CRegKey::DeleteTree(HKEY_CURRENT_USER, path);
        CRegKey::DeleteTree(HKEY_CURRENT_USER, SchemeKeyPath().c_str());
        CRegKey::DeleteIfEmpty(HKEY_CURRENT_USER, "Software\\Quorsel\\Vantorima");
        for (const char* name : {"VantorimaLaunch.exe", "VantorimaLaunch.exe.old", "VantorimaLaunch.exe.new"})
            DeleteFileA((folder_ + "\\" + name).c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    // Everything an install or uninstall may touch, and the files an
    // uninstall leaves in the temporary folder (its copy's private folder,
    // empty, goes with the next one's sweep).
    std::string State() const
    {
        std::string state = FileTree(programs_);
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            state += KeyTree(root, SchemeKeyPath());
        state += KeyTree(HKEY_CURRENT_USER, kUninstallEntryPath) + KeyTree(HKEY_CURRENT_USER, "Software\\Quorsel");
        // A file's line is followed by one of its bytes ("  <hash>").
        const std::string temp = FileTree(temp_.Path());
        if (temp.find("\n  ") != std::string::npos)
            state += "left in the temporary folder:\n" + temp;
        return state;
    }
    std::string Installed() const { return folder_ + "\\VantorimaLaunch.exe"; }
    std::wstring Command() const
    {
        return WideValue(HKEY_CURRENT_USER, SchemeKeyPath() + "\\shell\\open\\command", nullptr);
    }

    CScratchDir downloads_{"launcher downloads"}, temp_{"launcher temp"};
    std::string download_ = downloads_.File("VantorimaLaunch.exe");
    std::string programs_ = LocalFolder() + "\\Programs";
    std::string folder_ = programs_ + "\\Vantorima";
    std::string before_;
    CTraceCapture trace_;
};

}  // namespace

TEST_F(LauncherInstall, InstallsItselfOnceAndItsUninstallLeavesNothing)
{
    const std::string own = ReadFileBytes(download_);
    {
        CBoxAnswerer answerer(IDOK);
        EXPECT_EQ(RunHandler("", download_), 0u);  // as a player runs it: no argument
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kInstalledText});
    }
    EXPECT_EQ(ReadFileBytes(Installed()), own);
    const std::wstring program = Wide(Installed());
    EXPECT_EQ(Command(), L"\"" + program + L"\" \"%1\"");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SchemeKeyPath()));
    const struct {
        const wchar_t* name;
        std::wstring text;
    } texts[] = {
        {L"DisplayName", L"VOK 围棋 启动器"},
        {L"DisplayVersion", L"1.0.0.2"},
        {L"Publisher", L"Quorsel"},
        {L"DisplayIcon", program + L",0"},
        {L"InstallLocation", Wide(folder_)},
        {L"UninstallString", L"\"" + program + L"\" /uninstall"},
        {L"QuietUninstallString", L"\"" + program + L"\" /uninstall /quiet"},
    };
    for (const auto& text : texts)
        EXPECT_EQ(WideValue(HKEY_CURRENT_USER, kUninstallEntryPath, text.name), text.text) << text.name;
    const KeyValues entry = ReadKey(HKEY_CURRENT_USER, kUninstallEntryPath);
    const struct {
        const char* name;
        DWORD number;
    } numbers[] = {{"EstimatedSize", static_cast<DWORD>((own.size() + 1023) / 1024)}, {"NoModify", 1}, {"NoRepair", 1}};
    for (const auto& number : numbers) {
        ASSERT_EQ(entry.count(number.name), 1u) << number.name;
        EXPECT_EQ(entry.at(number.name),
                  std::make_pair(DWORD(REG_DWORD), std::string(reinterpret_cast<const char*>(&number.number), 4)));
    }

    // Again, from the download and from the installed copy: nothing changes,
    // and /quiet shows nothing.
    const std::string installed = State();
    for (const std::string& from : {download_, Installed()}) {
        CBoxAnswerer answerer(IDOK);
        EXPECT_EQ(RunHandler("/install /quiet", from), 0u);
        EXPECT_TRUE(answerer.Texts().empty());
        EXPECT_EQ(State(), installed);
    }

    // The installed copy removes everything, its own file once it has ended.
    const long long now = static_cast<long long>(std::time(nullptr));
    EXPECT_EQ(ClaimNonce("00aa00aa00aa00aa", now + 100, now), NonceClaim::Claimed);
    EXPECT_EQ(RunHandler("/uninstall /quiet", Installed()), 0u);
    EXPECT_TRUE(PumpUntil([&] { return State() == before_; }));
    EXPECT_EQ(State(), before_);
    EXPECT_EQ(trace_.Last("uninstall"), "uninstalled");
}

TEST_F(LauncherInstall, AnOlderInstalledCopyIsReplacedANewerOneKeptAndUsed)
{
    const struct {
        const char* what;
        long long delta;
        bool running;
    } cases[] = {{"older", -1, false}, {"older and running", -(1LL << 16), true}, {"newer", 1LL << 48, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Clean();
        CreateDirectoryA(folder_.c_str(), nullptr);
        const std::string copy = WithVersion(c.delta);
        ASSERT_TRUE(WriteFileBytes(Installed(), copy));
        // A running copy, held by its refusal box.
        std::unique_ptr<CHandler> running;
        if (c.running) {
            running = std::make_unique<CHandler>(Installed(), "not-a-link");
            ASSERT_TRUE(PumpUntil([] { return FindWindowW(L"#32770", L"VOK 围棋") != nullptr; }));
        }
        EXPECT_EQ(RunHandler("/install /quiet", download_), 0u);
        const bool replaced = c.delta < 0;
        EXPECT_EQ(ReadFileBytes(Installed()) == copy, !replaced);
        EXPECT_EQ(ReadFileBytes(Installed()) == ReadFileBytes(download_), replaced);
        EXPECT_EQ(Command(), L"\"" + Wide(Installed()) + L"\" \"%1\"");
        EXPECT_EQ(WideValue(HKEY_CURRENT_USER, kUninstallEntryPath, L"DisplayVersion"),
                  replaced ? L"1.0.0.2" : L"2.0.0.2");
        EXPECT_FALSE(FileExists(Installed() + ".new"));
        if (running) {
            CBoxAnswerer answerer(IDOK);
            EXPECT_EQ(running->ExitCode(), 1u);
        }
        // Uninstalled, whatever ran: nothing left.
        EXPECT_EQ(RunHandler("/uninstall /quiet", download_), 0u);
        EXPECT_EQ(State(), before_);
    }
}

TEST_F(LauncherInstall, AWriteThatFailsTakesBackWhatItWrote)
{
    // A handler the client's installer registered before: it comes back.
    ASSERT_EQ(RegisterScheme(SchemeScope::User, L"C:\\client\\VantorimaLaunch.exe"), ERROR_SUCCESS);
    const std::string before = State();
    const std::string command = SchemeKeyPath() + "\\shell\\open\\command";
    const struct {
        const char* step;
        std::function<bool(bool)> block;  // true: blocks; false: lets go
    } cases[] = {
        {"folder",
         [&](bool on) {
             return on ? WriteFileBytes(folder_, "a file where the folder goes") : DeleteFileA(folder_.c_str()) != 0;
         }},
        {"scheme",
         [&](bool on) { return SetKeyDacl(HKEY_CURRENT_USER, command.c_str(), on ? kReadOnlyDacl : kFullAccessDacl); }},
        // An entry that cannot be written (Wine lets any key be created).
        {"uninstall entry",
         [&](bool on) {
             if (!on)
                 return CRegKey::DeleteTree(HKEY_CURRENT_USER, kUninstallEntryPath) == ERROR_SUCCESS;
             HKEY entry;
             if (RegCreateKeyExA(HKEY_CURRENT_USER, kUninstallEntryPath, 0, nullptr, 0, KEY_WRITE, nullptr, &entry,
                                 nullptr) != ERROR_SUCCESS)
                 return false;
             RegCloseKey(entry);
             return SetKeyDacl(HKEY_CURRENT_USER, kUninstallEntryPath, kReadOnlyDacl);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        ASSERT_TRUE(c.block(true));
        const std::string blocked = State();
        CBoxAnswerer answerer(IDOK);
        EXPECT_EQ(RunHandler("/install", download_), 4u);
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kInstallFailedText});
        EXPECT_EQ(trace_.Last("install failed").rfind(std::string("install failed: ") + c.step + ": error ", 0), 0u)
            << trace_.Last("install failed");
        EXPECT_EQ(State(), blocked);
        EXPECT_TRUE(c.block(false));
        EXPECT_EQ(State(), before);
    }
    CRegKey::DeleteTree(HKEY_CURRENT_USER, SchemeKeyPath().c_str());
}

// Whether a launch claimed a nonce in the ledger (a renewal's claims are
// entries of their own).
bool LaunchClaimed()
{
    const std::string tree = KeyTree(HKEY_CURRENT_USER, kNonceLedgerPath);
    for (size_t at = 0; (at = tree.find("LinkNonces\\", at)) != std::string::npos; ++at)
        if (tree.compare(at + 11, 8, "renewal-") != 0)
            return true;
    return false;
}

TEST_F(LinkHandlerUpdate, ANewerLinkRenewsTheLauncherOnceOrChangesNothing)
{
    // The installed launcher: this handler, signed by the test publisher, so
    // that "self" names that publisher.
    const std::string self = ProgramDir() + "VantorimaLaunch-signed.exe";
    const std::string next = ReadFileBytes(ProgramDir() + "VantorimaLaunchNext-signed.exe");
    std::string tampered = next;
    tampered[0x600] ^= 1;
    const std::string installed = LocalFolder() + "\\Programs\\Vantorima\\VantorimaLaunch.exe";
    const std::string served = UpdateServerRoot() + "\\service\\VantorimaLaunch.exe";
    const std::string unsignedSelf = ReadFileBytes(ProgramDir() + "VantorimaLaunch.exe");
    std::string noVersion = unsignedSelf;
    const std::string versionKey(reinterpret_cast<const char*>(L"VS_VERSION_INFO"), 30);
    noVersion[noVersion.find(versionKey)] = 'X';
    const struct {
        const char* what;
        std::string served;
        const char* link;
        const char* refused;  // the trace's refusal, or null when renewed
        bool downloads;  // the refusal comes after the download
        bool replay;  // the ledger as the case before left it
        const char* state;  // what the page reads: the last report that counts
        std::string launcher = std::string();  // the installed launcher's bytes, when not self
        bool ledgerReadOnly = false;
    } cases[] = {
        // Unsigned, "self" lets any trusted publisher pass the check, but not renew this launcher.
        {"unsigned, another publisher", ReadFileBytes(ProgramDir() + "VantorimaLaunchNext-other.exe"), "next",
         "renewal: signer passes only as this launcher is unsigned", true, false, "refused:renewal", unsignedSelf},
        {"own version unreadable", next, "next", "renewal: own version unreadable", false, false, "refused:renewal",
         noVersion},
        {"tampered", tampered, "next", "renewal: no checked launcher", true, false, "refused:renewal"},
        {"another publisher", ReadFileBytes(ProgramDir() + "VantorimaLaunchNext-other.exe"), "next",
         "renewal: no checked launcher", true, false, "refused:renewal"},
        {"not newer", ReadFileBytes(self), "next", "renewal: not newer", true, false, "refused:renewal"},
        // The publisher's own installer, whose bytes carry the next launcher's
        // higher version block: no launcher, never started.
        {"the client's installer", ReadFileBytes(ProgramDir() + "VokWeiqiNext-signed.exe"), "next",
         "renewal: not a launcher", true, false, "refused:renewal"},
        {"a key nobody knows", next, "next_stranger", "signature does not verify", false, false, "pending"},
        {"expired", next, "next_expired", "expired", false, false, "refused:expired"},
        // The renewal's own refusals report theirs too.
        {"no ledger", next, "next", "nonce ledger cannot be written", false, false, "refused:ledger", "", true},
        {"newer", next, "next", nullptr, true, false, "started"},  // after renewing, from the new copy
        // The same link again, to the launcher as it was: nothing downloaded,
        // and its refusal leaves the page what it read.
        {"replayed", next, "next", "nonce used before", false, true, "started"},
        // The new copy cannot read it either: it refuses, and renews no more.
        {"newer than both", next, "beyond", "newer version", true, false, "refused:version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteSettingsKey();
        Install();
        if (!c.replay)
            CRegKey::DeleteTree(HKEY_CURRENT_USER, kNonceLedgerPath);
        for (const char* suffix : {"", ".old"})
            DeleteFileA((installed + suffix).c_str());
        ASSERT_EQ(RunHandler("/install /quiet", self), 0u);
        if (!c.launcher.empty()) {
            ASSERT_TRUE(WriteFileBytes(installed, c.launcher));
        }
        const std::string before = ReadFileBytes(installed);
        ASSERT_TRUE(WriteFileBytes(served, c.served));
        const std::string folder = trace_.Last("download folder :");  // each has a name of its own
        CBoxAnswerer answerer(IDOK);
        const bool handedOn = !c.refused || std::string(c.refused) == "newer version";
        if (c.ledgerReadOnly) {
            const long long now = static_cast<long long>(std::time(nullptr));  // the ledger's key, of a renewal
            ASSERT_EQ(ClaimNonce("00aa00aa00aa00aa", now + 100, now, NonceUse::Renewal), NonceClaim::Claimed);
            ASSERT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, kNonceLedgerPath, kReadOnlyDacl));
        }
        EXPECT_EQ(RunHandler(Quoted(Link(c.link)), installed), handedOn ? 0u : 1u);
        if (c.ledgerReadOnly) {
            EXPECT_TRUE(SetKeyDacl(HKEY_CURRENT_USER, kNonceLedgerPath, kFullAccessDacl));
        }
        EXPECT_EQ(LinkState(c.link, c.state), c.state);
        EXPECT_EQ(trace_.Last("download folder :") != folder, c.downloads);
        if (!c.refused) {
            EXPECT_EQ(RecordField(ClientRecord(), "name"), "player");
            EXPECT_EQ(ReadFileBytes(installed), next);
            // The new copy claimed the nonce.
            EXPECT_TRUE(LaunchClaimed());
            EXPECT_TRUE(answerer.Texts().empty());
            continue;
        }
        EXPECT_TRUE(PumpUntil([&] { return !answerer.Texts().empty(); }));
        PumpFor(500);
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kRefusedText});
        EXPECT_EQ(trace_.Last("link refused"), std::string("link refused: ") + c.refused);
        EXPECT_EQ(ReadFileBytes(installed), handedOn ? next : before);
        EXPECT_EQ(LaunchClaimed(), c.replay);  // only the launch of the case before
        EXPECT_FALSE(FileExists(record_));
        EXPECT_FALSE(FileExists(installerRecord_));
    }
    EXPECT_EQ(RunHandler("/uninstall /quiet", self), 0u);
    const std::string reports = UpdateServerText("/link/reports");
    const std::string reported = "nonce=" + NonceOf(Link("next")) + "&outcome=";
    EXPECT_LT(reports.rfind(reported + "renewing"), reports.find(reported + "started")) << reports;
    EXPECT_LT(reports.find(reported + "started"), reports.find(reported + "refused:used")) << reports;  // replayed
}

// A renewal runs what the update host serves: only a build that names its
// signers, and in a release an https host, renews at all.
TEST(SelfRenewal, OnlyABuildThatNamesItsSignersAndInAReleaseHttpsRenews)
{
    const struct {
        const char* signers;
        bool signedBuild;
        const char* origin;
        const char* fault;
    } cases[] = {
        {"self", false, "http://127.0.0.1:1", nullptr},
        {"self", true, "https://update.go.example", nullptr},
        {"0123456789ABCDEF0123456789ABCDEF01234567", true, "HTTPS://update.go.example", nullptr},
        {"OFF", false, "https://update.go.example", "renewal: no signers named"},
        {"", false, "https://update.go.example", "renewal: no signers named"},
        {" ; ", false, "https://update.go.example", "renewal: no signers named"},
        {"self", true, "http://update.go.example", "renewal: update host not https"},
    };
    for (const auto& c : cases) {
        const char* fault = RenewalPolicyFault(c.signers, c.signedBuild, c.origin);
        EXPECT_STREQ(fault, c.fault) << c.signers << " " << c.origin;
    }
}

// Windows looks for a library that is not one of its KnownDLLs in the
// program's folder first; Wine does too when an override asks for native
// libraries first. A stub of every other library the launcher uses, and of
// those that the system's libraries load for it, lies beside it in a
// download folder and in the temporary folder: its install, the update
// dialog's road and its uninstall load none of them. (version.dll is not
// among them: Wine's own user32 imports it, so Wine loads a planted one
// before any of the program's code runs; Windows' user32 is a KnownDLL and
// does not import it, and DependentLoadFlags covers what the others load.)
TEST_F(LinkHandlerUpdate, NoLibraryComesFromTheDownloadOrTheTemporaryFolder)
{
    const char* const kPlanted[] = {"wininet", "crypt32",   "wintrust", "bcrypt",  "comctl32",
                                    "uxtheme", "cryptbase", "userenv",  "winhttp", "dwmapi"};
    CScratchDir downloads("planted downloads");
    const std::string launcher = downloads.File("VantorimaLaunch.exe");
    ASSERT_TRUE(CopyFileA((ProgramDir() + "VantorimaLaunch.exe").c_str(), launcher.c_str(), FALSE));
    char overrides[1024] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    std::string nativeFirst = std::string(overrides) + ";";
    for (const char* name : kPlanted) {
        for (const std::string& folder : {downloads.Path(), temp_.Path()})
            ASSERT_TRUE(CopyFileA((ProgramDir() + "PlantedLibrary.dll").c_str(),
                                  (folder + "\\" + name + ".dll").c_str(), FALSE));
        nativeFirst += std::string(name) + (name == kPlanted[ARRAYSIZE(kPlanted) - 1] ? "=n,b" : ",");
    }
    const std::string record = temp_.Path() + ".planted.txt";
    SetEnvironmentVariableA("VANTORIMA_PLANTED_RECORD", record.c_str());
    SetEnvironmentVariableA("WINEDLLOVERRIDES", nativeFirst.c_str());

    const std::string installed = LocalFolder() + "\\Programs\\Vantorima\\VantorimaLaunch.exe";
    EXPECT_EQ(RunHandler("/install /quiet", launcher), 0u);
    EXPECT_TRUE(FileExists(installed));
    {
        // WinINet, the common controls and the installer's signature check.
        CHandler update(launcher, Quoted(Link("update")));
        EXPECT_EQ(update.ExitCode(60000), 0u);
        EXPECT_EQ(RecordField(ClientRecord(), "name"), "player");
    }
    EXPECT_EQ(RunHandler("/uninstall /quiet", installed), 0u);
    EXPECT_TRUE(PumpUntil([&] { return !FileExists(installed); }));

    SetEnvironmentVariableA("WINEDLLOVERRIDES", overrides);
    SetEnvironmentVariableA("VANTORIMA_PLANTED_RECORD", nullptr);
    EXPECT_FALSE(FileExists(record)) << ReadFileBytes(record);
    DeleteFileA(record.c_str());
}
