// The launch sequence in real windows, with the real registry and a real
// ShellExecuteA of the stand-in client.
#include <windows.h>

#include <gtest/gtest.h>

#include "WineTestSupport.h"
#include "control/CompletionMessage.h"
#include "launch/CredentialToken.h"
#include "launch/LaunchSequence.h"
#include "launch/SettingsStore.h"

using namespace wine_test;

namespace {

// A stand-in for the update dialog: tells when it is deleted.
class CFakeDialog : public CDialogBase {
public:
    explicit CFakeDialog(bool* deleted) : CDialogBase(0), m_deleted(deleted) {}
    ~CFakeDialog() override { *m_deleted = true; }

private:
    bool* m_deleted;
};

// The top-level window of the page: records how it ends.
class CHostWindow : public CWindow {
public:
    std::vector<std::string> events;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_SIZE && wParam == SIZE_MINIMIZED)
            events.push_back("minimised");
        if (message == WM_DESTROY)
            events.push_back(IsIconic(m_hWnd) ? "destroyed iconic" : "destroyed");
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

// A child window that runs the launch sequence as the control does.
class CLaunchWindow : public CWindow {
public:
    void SetProperties(std::string id, std::string pass, std::string key, std::string server)
    {
        m_properties = {std::move(id), std::move(pass), std::move(key), std::move(server)};
    }
    void OnNotifyChild() { m_launch.OnNotifyChild(m_hWnd); }

    int dialogsOpened = 0;
    int completions = 0;
    bool completionInsideCreate = false;
    bool completionQueuedAfterCreate = false;
    bool* dialogDeleted = nullptr;  // when set, the dialog road opens a fake dialog

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_CREATE) {
            m_inCreate = true;
            m_launch.Launch(m_hWnd, m_properties);
            m_inCreate = false;
            MSG queued;
            completionQueuedAfterCreate =
                PeekMessageA(&queued, m_hWnd, kCompletionMessage, kCompletionMessage, PM_NOREMOVE) &&
                queued.wParam == 1 && queued.lParam == 0;
            return 0;
        }
        if (message == kCompletionMessage) {
            ++completions;
            completionInsideCreate |= m_inCreate;
            OnNotifyChild();
            return 0;
        }
        return CWindow::WindowProc(message, wParam, lParam);
    }

private:
    CLaunchSequence::DialogPtr OpenUpdater()
    {
        ++dialogsOpened;
        return CLaunchSequence::DialogPtr(dialogDeleted ? new CFakeDialog(dialogDeleted) : nullptr);
    }

    bool m_inCreate = false;
    LaunchProperties m_properties;
    CLaunchSequence m_launch{[this] { PostCompletion(m_hWnd); },
                             [this](HWND, const std::function<void()>&) { return OpenUpdater(); }};
};

class LaunchSequence : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client_.File("Marovent.exe").c_str(), FALSE));
        SetEnvironmentVariableA("MAROVENT_RECORD", record_.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("MAROVENT_RECORD", nullptr);
        DeleteFileA(record_.c_str());
        DeleteSettingsKey();
        // Whatever the case, the password never reaches the trace.
        if (!password_.empty()) {
            for (const std::string& line : trace_.Lines())
                EXPECT_EQ(line.find(password_), std::string::npos) << line;
        }
    }

    void Install() { WriteSettingsValue("WorkDir", REG_SZ, client_.Path() + '\0'); }

    // Creates the host window and the launching child in it, as a page does.
    void Run(const std::string& id, const std::string& pass, const std::string& key, const std::string& server)
    {
        password_ = pass;
        RECT hostRect = {50, 50, 450, 350};
        ASSERT_TRUE(host_.CreateEx(0, "page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, hostRect, nullptr));
        control_.SetProperties(id, pass, key, server);
        RECT rect = {10, 10, 110, 60};
        ASSERT_TRUE(control_.CreateEx(0, "", WS_CHILD | WS_VISIBLE, rect, host_.GetSafeHwnd(), 1));
    }

    // Waits for the host window to end and the client to record its start.
    std::string ClientRecord()
    {
        EXPECT_TRUE(PumpUntil([&] { return !host_.GetSafeHwnd() && FileExists(record_); }));
        return ReadFileBytes(record_);
    }

    CScratchDir client_{"vantorima client"};
    std::string record_ = client_.Path() + ".record.txt";
    CTraceCapture trace_;
    CSettingsStore store_;
    CHostWindow host_;
    CLaunchWindow control_;
    std::string password_;
};

}  // namespace

TEST_F(LaunchSequence, GuestWithoutPasswordStartsTheClientBareAndEndsThePage)
{
    Install();
    Run("guest", "", "", "");
    EXPECT_TRUE(control_.completionQueuedAfterCreate);  // posted, not sent
    EXPECT_EQ(control_.completions, 0);

    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "args"), "");
    EXPECT_EQ(RecordField(record, "cmdline").find(client_.File("Marovent.exe")), 1u);
    EXPECT_EQ(RecordField(record, "cwd"), client_.Path());  // WorkDir, not the browser's
    EXPECT_EQ(SettingsText("SaveStart"), " /NAME:guest /PASSWORD: /JOINKEY:1000");
    EXPECT_EQ(SettingsText("HttpPathKorea"), kHttpPathKorea);
    EXPECT_EQ(SettingsText("LoginSERV"), "<missing>");

    EXPECT_EQ(control_.completions, 1);
    EXPECT_FALSE(control_.completionInsideCreate);
    EXPECT_EQ(host_.events, (std::vector<std::string>{"minimised", "destroyed iconic"}));
    EXPECT_FALSE(control_.GetSafeHwnd());
    EXPECT_EQ(control_.dialogsOpened, 0);

    const std::vector<std::string> expected = {
        "id : guest", "passwd : <0 bytes>",          "m_key : <0 bytes>",           "m_strServer : ", "suc",
        "suc",        "strPath : " + client_.Path(), "CPelloraCtrl::OnNotifyChild", "GetParentOwner"};
    EXPECT_EQ(trace_.Lines(), expected);
}

TEST_F(LaunchSequence, AClientThatCannotStartIsTracedWithItsPlaceAndThePageStillEnds)
{
    Install();
    ASSERT_TRUE(DeleteFileA(client_.File("Marovent.exe").c_str()));
    CBoxAnswerer answerer(IDOK);  // the shell may tell the user, as it always could
    Run("guest", "", "", "");
    ASSERT_TRUE(PumpUntil([&] { return !host_.GetSafeHwnd(); }));
    EXPECT_EQ(control_.completions, 1);
    EXPECT_EQ(control_.dialogsOpened, 0);
    EXPECT_FALSE(FileExists(record_));
    const std::string line = trace_.Last("LaunchSequence.cpp(");
    EXPECT_TRUE(TracedFailure(line, "error 2")) << line;  // SE_ERR_FNF
    int places = 0;
    for (const std::string& traced : trace_.Lines())
        places += traced.rfind("LaunchSequence.cpp(", 0) == 0;
    EXPECT_EQ(places, 1);  // one line for the failed start
}

TEST_F(LaunchSequence, NameAndPasswordReachTheClientAsAToken)
{
    Install();
    Run("player one", "s3cret \"%s\"", "", "go.example:7000");
    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "name"), "player one");
    EXPECT_EQ(RecordField(record, "password"), "s3cret \"%s\"");
    EXPECT_EQ(RecordField(record, "joinkey"), "1000");
    EXPECT_EQ(RecordField(record, "args"), SettingsText("SaveStart"));
    EXPECT_EQ(SettingsText("LoginSERV"), "go.example:7000");
}

TEST_F(LaunchSequence, SixtyFourCharactersAndAKeyPassUnchanged)
{
    std::string ready;
    for (int i = 0; i < 16; ++i)
        ready += "%n\"z";
    Install();
    Run("\xC6\xE5\xCA\xD6 %s", ready, "7777", "");  // GBK 棋手
    const std::string record = ClientRecord();
    EXPECT_EQ(RecordField(record, "args"), " /NAME:\xC6\xE5\xCA\xD6 %s /PASSWORD:" + ready + " /JOINKEY:7777");
}

TEST_F(LaunchSequence, NoNameStartsTheClientWithoutArguments)
{
    Install();
    Run("", "pw", "", "");
    EXPECT_EQ(RecordField(ClientRecord(), "args"), "");
    const std::string saved = SettingsText("SaveStart");
    ASSERT_EQ(saved.size(), 96u);
    EXPECT_EQ(saved.substr(0, 18), " /NAME: /PASSWORD:");
    DecodedToken token;
    ASSERT_TRUE(DecodeToken(saved.substr(18, 64), &token));
    EXPECT_EQ(token.password, "pw");
}

TEST_F(LaunchSequence, PasswordTooLongForATokenCountsAsEmpty)
{
    Install();
    Run("guest", std::string(27, 'p'), "", "");
    EXPECT_EQ(RecordField(ClientRecord(), "args"), "");
    EXPECT_EQ(SettingsText("SaveStart"), " /NAME:guest /PASSWORD: /JOINKEY:1000");
    EXPECT_TRUE(trace_.Contains("passwd too long : 27 bytes, not passed on"));
}

TEST_F(LaunchSequence, MissingOrEmptyWorkDirOpensTheUpdateDialogInstead)
{
    WriteSettingsValue("LoginSERV", REG_SZ, std::string("earlier") + '\0');
    for (bool emptyValue : {false, true}) {
        SCOPED_TRACE(emptyValue);
        if (emptyValue)
            WriteSettingsValue("WorkDir", REG_SZ, std::string(1, '\0'));
        CHostWindow host;
        CLaunchWindow control;
        RECT rect = {0, 0, 100, 100};
        ASSERT_TRUE(host.CreateEx(0, "page", WS_OVERLAPPEDWINDOW, rect, nullptr));
        control.SetProperties("guest", "pw", "", "");
        ASSERT_TRUE(control.CreateEx(0, "", WS_CHILD, rect, host.GetSafeHwnd(), 1));
        PumpFor(200);
        EXPECT_EQ(control.dialogsOpened, 1);
        EXPECT_FALSE(control.completionQueuedAfterCreate);
        EXPECT_EQ(control.completions, 0);
        EXPECT_TRUE(host.GetSafeHwnd());
        EXPECT_EQ(SettingsText("LoginSERV"), "earlier");  // an empty server leaves it
        EXPECT_EQ(SettingsText("HttpPathKorea"), kHttpPathKorea);
        EXPECT_EQ(SettingsText("SaveStart").substr(0, 23), " /NAME:guest /PASSWORD:");
    }
    EXPECT_FALSE(FileExists(record_));
}

TEST_F(LaunchSequence, CompletionDeletesTheDialogBeforeEndingThePage)
{
    bool deleted = false;
    control_.dialogDeleted = &deleted;
    Run("guest", "", "", "");
    ASSERT_EQ(control_.dialogsOpened, 1);
    ASSERT_FALSE(deleted);
    PostCompletion(control_.GetSafeHwnd());
    ASSERT_TRUE(PumpUntil([&] { return !host_.GetSafeHwnd(); }));
    EXPECT_TRUE(deleted);
    const std::vector<std::string> lines = trace_.Lines();
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"CPelloraCtrl::OnNotifyChild", "delete m_downLoaddlg", "GetParentOwner"}));
}

TEST_F(LaunchSequence, CompletionWithoutAWindowOnlyTraces)
{
    CLaunchWindow windowless;
    windowless.OnNotifyChild();
    EXPECT_EQ(trace_.Lines(), (std::vector<std::string>{"CPelloraCtrl::OnNotifyChild", "GetParentOwner no"}));
}

TEST_F(LaunchSequence, HugeAndHostileValuesGoThroughWhole)
{
    const std::string id = std::string(1 << 20, '%') + "%s%n";
    const std::string key = "\"" + std::string(1 << 20, 'k') + "\xCE\xA7\xC6\xE5";
    const std::string server = std::string(1 << 20, 's') + " \"%d\"";
    Install();
    Run(id, "", key, server);
    // The command line is too long for any process: the start fails unnoticed
    // and the page still ends.
    ASSERT_TRUE(PumpUntil([&] { return !host_.GetSafeHwnd(); }));
    EXPECT_EQ(SettingsText("SaveStart"), " /NAME:" + id + " /PASSWORD: /JOINKEY:" + key);
    EXPECT_EQ(SettingsText("LoginSERV"), server);
}

TEST_F(LaunchSequence, ValuesCannotWriteTraceLinesOfTheirOwn)
{
    Install();
    Run("guest\r\nsuc", "", "k\n", "server\rGetParentOwner");
    ClientRecord();
    const std::vector<std::string> lines = trace_.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "id : guest\\r\\nsuc");
    EXPECT_EQ(lines[2], "m_key : <2 bytes>");  // the join key's length alone
    EXPECT_EQ(lines[3], "m_strServer : server\\rGetParentOwner");
    EXPECT_EQ(trace_.Count("GetParentOwner"), 1);
}

TEST_F(LaunchSequence, DeniedSettingsAreTracedAndTheLaunchGoesOn)
{
    Install();
    std::string dir;
    store_.ReadWorkDir(dir);
    ASSERT_TRUE(SetSettingsKeyDacl(kReadOnlyDacl));
    Run("guest", "", "", "server");
    ClientRecord();
    EXPECT_EQ(trace_.Count("error"), 3);
    EXPECT_EQ(SettingsText("SaveStart"), "<missing>");

    EXPECT_TRUE(SetSettingsKeyDacl(kFullAccessDacl));
}
