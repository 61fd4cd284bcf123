// The update dialog end to end: the local update server on the installer's
// port, the stand-in installer and client, real message boxes answered by a
// watcher thread, and the status messages recorded on their way in.
#include <windows.h>

#include <aclapi.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>

#include "BuildConfig.h"
#include "WineTestSupport.h"
#include "control/CompletionMessage.h"
#include "launch/LaunchSequence.h"
#include "launch/SettingsStore.h"
#include "dialog/DownLoadDlg.h"
#include "framework/sys/AnsiText.h"
#include "download/InstallerSignature.h"
#include "dialog/InstalledProgram.h"
#include "download/StatusMessage.h"

using namespace wine_test;

// The signers the dialog's check accepts. This definition takes the place of
// the build's (download/InstallerSigners.cpp), so that a case can set its own;
// the others accept any publisher, as the default build does.
static std::wstring g_signers;
const wchar_t* InstallerSigners()
{
    return g_signers.c_str();
}

namespace {

const wchar_t kAskStop[] = L"真的终止升级吗？";
const char kPartialFolder[] = "Vantorima-partial";
const wchar_t kDownloadFailed[] = L"下载过程中出现问题，请重试。";
const wchar_t kUnpackFailed[] = L" 自动升级过程中，解压缩出现问题，\r\n\r\n请到主页重新下载。";
const wchar_t kUnverified[] = L"下载的安装程序未能通过验证，\r\n\r\n请到主页重新下载客户端。";
const wchar_t kAskClose[] = L"有另外一个VOK围棋正在运行。\r\n\r\n如果有正在运行的VOK围棋，将被强行关闭。";
const char kStopButton[] = "停止升级";
const char kCloseButton[] = "关 闭";
const char kStopped[] = "升级已经被中断。";
const char kClientRecord[] = "Marovent.received.txt";
const char kAppPathsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Marovent.exe";

// Registers where the client is installed, as its installer would, for the
// life of the object.
class CAppPathsEntry {
public:
    CAppPathsEntry(const std::string& path, DWORD type = REG_SZ)
    {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, kAppPathsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>(path.size() + 1));
        RegCloseKey(key);
    }
    ~CAppPathsEntry() { RegDeleteKeyA(HKEY_CURRENT_USER, kAppPathsKey); }
};

struct Status {
    unsigned code;
    unsigned percent;
    std::string text;
};

// Every status message that reaches this thread's windows, seen on its way in.
class CStatusLog {
public:
    CStatusLog()
    {
        s_log = this;
        m_hook = SetWindowsHookExA(WH_CALLWNDPROC, &Hook, nullptr, GetCurrentThreadId());
    }
    ~CStatusLog()
    {
        UnhookWindowsHookEx(m_hook);
        s_log = nullptr;
    }
    std::vector<unsigned> Codes() const
    {
        std::vector<unsigned> codes;
        for (const Status& s : statuses) {
            if (codes.empty() || codes.back() != s.code || s.code != STATUS_READING)
                codes.push_back(s.code);
        }
        return codes;  // one 4 for each run of 4s
    }
    bool Seen(unsigned code) const
    {
        for (const Status& s : statuses)
            if (s.code == code)
                return true;
        return false;
    }
    std::vector<Status> statuses;
    // Called for each status message before the dialog sees it, its worker waiting.
    std::function<void(unsigned code)> onStatus;
    int statusLinePaints = 0;  // texts set to the dialog's status line
    std::vector<HWND> animationPlays;  // the windows told to play

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && s_log && message->message == WM_SETTEXT && GetDlgCtrlID(message->hwnd) == 204)
            ++s_log->statusLinePaints;
        if (code == HC_ACTION && s_log && message->message == ACM_PLAY)
            s_log->animationPlays.push_back(message->hwnd);
        if (code == HC_ACTION && s_log && message->message == StatusMessageId()) {
            const char* text = reinterpret_cast<const char*>(message->lParam);
            s_log->statuses.push_back({StatusCodeOf(static_cast<uint32_t>(message->wParam)),
                                       StatusPercentOf(static_cast<uint32_t>(message->wParam)), text ? text : ""});
            if (s_log->onStatus)
                s_log->onStatus(s_log->statuses.back().code);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static CStatusLog* s_log;
    HHOOK m_hook;
};
CStatusLog* CStatusLog::s_log = nullptr;

// The control: a child window of the page that posts itself the completion
// message when the dialog hands over, and counts its arrivals.
class CControlStub : public CWindow {
public:
    int completions = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kCompletionMessage && wParam == 1 && lParam == 0)
            ++completions;
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

// The build's test code-signing certificate, which signs the stand-in
// installer: its SHA-1 thumbprint as openssl gives it (tools/test-certs.sh).
std::string TestSignerThumbprint()
{
    return ReadFileBytes(ProgramDir() + "..\\test-signing\\cert.sha1").substr(0, 40);
}
const char kTestSigner[] = "Vantorima test code signing";

// The check's last word in the trace.
std::string LastCheck(const CTraceCapture& trace)
{
    return trace.Last("CheckInstallerFile : ");
}

// Runs a command line and returns its exit code (255 when it did not run).
DWORD RunAndWait(std::string command)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 255;
    WaitForSingleObject(process.hProcess, 20000);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class UpdateDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (UpdateServerPort().empty())
            GTEST_SKIP() << "runs inside testbed/update_server.py on the installer's port";
        const std::string served = ServeInstaller();
        ASSERT_FALSE(served.empty());
        installer_ = ReadFileBytes(served);
        ASSERT_TRUE(SetUpdateServerModes(""));

        // The download goes to its own temporary directory. A client has
        // been planted in the current directory (the browser's, often the
        // downloads folder): it must never start. Each stand-in records
        // beside itself what it was started with.
        SetEnvironmentVariableA("TMP", temp_.Path().c_str());
        SetEnvironmentVariableA("TEMP", temp_.Path().c_str());
        ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client_.File("Marovent.exe").c_str(), FALSE));
        GetCurrentDirectoryA(sizeof previousDir_, previousDir_);
        SetCurrentDirectoryA(client_.Path().c_str());
        SetEnvironmentVariableA("MAROVENT_INSTALLER_RECORD", client_.File("installer.txt").c_str());
        SetEnvironmentVariableA("VANTORIMA_INSTALL_DIR", install_.Path().c_str());
        DeleteSettingsKey();

        RECT pageRect = {40, 40, 840, 640}, controlRect = {10, 10, 110, 60};
        ASSERT_TRUE(page_.CreateEx(0, "page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, pageRect, nullptr));
        ASSERT_TRUE(control_.CreateEx(0, "", WS_CHILD | WS_VISIBLE, controlRect, page_.GetSafeHwnd(), 1));
    }
    void TearDown() override
    {
        dialog_.reset();
        g_signers.clear();
        EXPECT_FALSE(FileExists(client_.File(kClientRecord))) << "the planted client ran";
        SetCurrentDirectoryA(previousDir_);
        for (const char* name :
             {"TMP", "TEMP", "MAROVENT_RECORD", "MAROVENT_INSTALLER_RECORD", "VANTORIMA_INSTALL_DIR"})
            SetEnvironmentVariableA(name, nullptr);
        SetUpdateServerModes("");
        DeleteSettingsKey();
    }

    void Open()
    {
        dialog_ = std::make_unique<CDownLoadDlg>([this] { PostCompletion(control_.GetSafeHwnd()); });
        ASSERT_TRUE(dialog_->Create(control_.GetSafeHwnd()));
        dlg_ = dialog_->GetSafeHwnd();
    }
    // A file in the update's own folder under the temporary directory.
    std::string Downloaded(const std::string& name) const
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((temp_.Path() + "\\Vantorima-*").c_str(), &found);
        std::string folder = "no download folder";
        if (search != INVALID_HANDLE_VALUE) {
            do
                if (std::string(found.cFileName) != kPartialFolder)
                    folder = found.cFileName;
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return temp_.File(folder + "\\" + name);
    }
    // The partial download that the next press continues ("" when none),
    // and every file of the partial folder.
    std::string PartialFile() const
    {
        const auto parts = FilesMatching(temp_.File(kPartialFolder) + "\\*.part");
        return parts.empty() ? std::string() : parts[0].first;
    }
    size_t PartialFolderFiles() const { return FilesMatching(temp_.File(kPartialFolder) + "\\*").size(); }
    HWND Item(int id) const { return GetDlgItem(dlg_, id); }
    std::string StatusLine() const { return WindowText(Item(204)); }
    std::string Button() const { return WindowText(Item(203)); }
    int Progress() const { return static_cast<int>(SendMessageA(Item(202), PBM_GETPOS, 0, 0)); }
    bool Visible() const { return IsWindowVisible(dlg_) != FALSE; }
    void Press() { PostMessageA(dlg_, WM_COMMAND, MAKEWPARAM(203, BN_CLICKED), reinterpret_cast<LPARAM>(Item(203))); }
    bool WaitFor(unsigned code, DWORD timeoutMs = 20000)
    {
        return PumpUntil([&] { return log_.Seen(code); }, timeoutMs);
    }
    // The queue's last word, and a moment for what the dialog does with it.
    void Settle() { PumpFor(300); }

    // A screenshot named after the test, for people to look at.
    void Shot(const std::string& what)
    {
        SaveScreenshot(std::string("update-dialog-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                       "-" + what);
    }
    // Answers every box with button, after a screenshot of it over the dialog.
    CBoxAnswerer::Decision Answer(int button)
    {
        return [this, button](const std::wstring&) {
            Shot("box-" + std::to_string(++boxes_));
            return button;
        };
    }

    // With the server in these modes, the whole installer arrives and runs,
    // with no box; during() runs once the dialog is open.
    void ExpectTheWholeInstallerRuns(
        const char* modes, const std::function<void()>& during = [] {})
    {
        SCOPED_TRACE(modes);
        ASSERT_TRUE(SetUpdateServerModes(modes));
        control_.completions = 0;
        CBoxAnswerer answerer(Answer(IDOK));
        Open();
        during();
        ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
        EXPECT_TRUE(answerer.Texts().empty());
        EXPECT_EQ(ReadFileBytes(Downloaded("VokWeiqi.exe")), installer_);
        EXPECT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
        DeleteFileA(client_.File("installer.txt").c_str());
        dialog_.reset();
    }

    CScratchDir temp_{"update temp"}, client_{"update client"}, install_{"update install"};
    char previousDir_[MAX_PATH] = "";
    std::string installer_;
    CTraceCapture trace_;
    CStatusLog log_;
    CWindow page_;
    CControlStub control_;
    std::unique_ptr<CDownLoadDlg> dialog_;
    HWND dlg_ = nullptr;
    std::atomic<int> boxes_{0};
};

}  // namespace

TEST_F(UpdateDialog, DownloadsStartsTheInstallerAndHandsOver)
{
    // The client is opened where installed programs are found, never from
    // the current directory.
    CScratchDir installed("registered client");
    ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), installed.File("Marovent.exe").c_str(), FALSE));
    CAppPathsEntry registered(installed.File("Marovent.exe"));
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    EXPECT_EQ(StatusLine(), "");  // the template's text is replaced at once
    EXPECT_EQ(Button(), kStopButton);
    ASSERT_TRUE(WaitFor(STATUS_READING));
    EXPECT_EQ(log_.animationPlays, std::vector<HWND>{Item(201)});  // its own, before the download
    Shot("reading");
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));

    EXPECT_EQ(log_.Codes(),
              (std::vector<unsigned>{STATUS_STARTING, STATUS_READING, STATUS_FILE_DONE, STATUS_ALL_DONE}));
    unsigned last = 0;
    int readings = 0;
    for (const Status& s : log_.statuses) {
        if (s.code == STATUS_READING) {
            EXPECT_GE(s.percent, last);
            last = s.percent;
            ++readings;
        }
    }
    EXPECT_EQ(last, 100u);
    if (VANTORIMA_READ_BLOCK == 4095) {
        // Blocks come faster than they can be painted: the status line follows
        // them at its own pace.
        EXPECT_LT(log_.statusLinePaints * 2, readings) << readings << " blocks";
    } else {
        // From a fast line the blocks are large (the fixed blocks were 4095 bytes).
        EXPECT_LT(static_cast<size_t>(readings), installer_.size() / 16384) << readings << " blocks";
    }
    EXPECT_FALSE(Visible());
    EXPECT_FALSE(IsWindowEnabled(Item(203)));
    EXPECT_EQ(Progress(), 100);
    EXPECT_EQ(StatusLine(), "Download Files Complete!");
    EXPECT_TRUE(answerer.Texts().empty());

    // The installer, from the temporary directory, and the client by its name.
    EXPECT_EQ(ReadFileBytes(Downloaded("VokWeiqi.exe")), installer_);
    ASSERT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
    const std::string started = RecordField(ReadFileBytes(client_.File("installer.txt")), "cmdline");
    EXPECT_NE(started.find(temp_.Path()), std::string::npos) << started;
    EXPECT_NE(started.find("VokWeiqi.exe"), std::string::npos) << started;
    ASSERT_TRUE(PumpUntil([&] { return FileExists(installed.File(kClientRecord)); }));
    EXPECT_EQ(RecordField(ReadFileBytes(installed.File(kClientRecord)), "args"), "");
    PumpFor(300);
    EXPECT_EQ(trace_.Count("CDownLoadDlg::Exit"), 1);
    EXPECT_TRUE(trace_.Contains("link :" + CDownLoadDlg::InstallerUrl()));
    if (VANTORIMA_INSTALLER_CHECK) {
        EXPECT_EQ(LastCheck(trace_),
                  std::string("CheckInstallerFile : suc (CN : ") + kTestSigner + ", SHA1 : " + TestSignerThumbprint() +
                      ")");
    }
    PumpFor(200);
    EXPECT_EQ(control_.completions, 1);
}

TEST_F(UpdateDialog, StoppingASlowDownloadTakesTwoPresses)
{
    ASSERT_TRUE(SetUpdateServerModes("~slow=150,8192"));
    CBoxAnswerer answerer([](const std::wstring&) {
        SaveScreenshot("update-dialog-stop-question");
        return IDYES;
    });
    Open();
    // From the first whole second on the status line carries the speed.
    ASSERT_TRUE(PumpUntil([&] { return StatusLine().find("Kb/s") != std::string::npos; }, 10000));
    EXPECT_GT(Progress(), 0);
    EXPECT_LT(Progress(), 100);
    SaveScreenshot("update-dialog-downloading");

    // A move to a screen of another DPI: once the dialog manager has scaled
    // the dialog, the board is placed again at its frames' size.
    RECT placed, now, window;
    GetWindowRect(Item(201), &placed);
    SetWindowPos(Item(201), nullptr, 0, 0, 10, 10, SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(dlg_, &window);
    SendMessageA(dlg_, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&window));
    EXPECT_TRUE(PumpUntil([&] { return GetWindowRect(Item(201), &now) && EqualRect(&now, &placed); }, 2000));

    Press();
    ASSERT_TRUE(WaitFor(STATUS_LIST_FAILED));
    Settle();
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskStop});
    EXPECT_EQ(StatusLine(), kStopped);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(Button(), kCloseButton);
    EXPECT_TRUE(Visible());
    EXPECT_EQ(control_.completions, 0);
    const std::vector<unsigned> codes = log_.Codes();
    EXPECT_EQ(std::vector<unsigned>(codes.end() - 2, codes.end()),
              (std::vector<unsigned>{STATUS_STOPPED, STATUS_LIST_FAILED}));
    EXPECT_EQ(PartialFolderFiles(), 2u);  // the part stays, with its record

    Press();  // "关 闭": no question now
    ASSERT_TRUE(PumpUntil([&] { return trace_.Contains(std::string("status line: ") + kStopped); }));
    ASSERT_TRUE(PumpUntil([&] { return control_.completions == 1; }));
    EXPECT_FALSE(Visible());
    EXPECT_EQ(answerer.Texts().size(), 1u);
    dialog_.reset();

    // The next press asks only for the rest (the server's own count), and
    // the installer runs; nothing of the download stays but its folder.
    const size_t kept = ReadFileBytes(PartialFile()).size();
    ASSERT_GT(kept, 0u);
    ExpectTheWholeInstallerRuns("");
    EXPECT_EQ(UpdateServerRequests(),
              (std::vector<std::string>{"/service/VokWeiqi.exe range=bytes=" + std::to_string(kept) +
                                        "- status=206 sent=" + std::to_string(installer_.size() - kept)}));
    EXPECT_EQ(PartialFolderFiles(), 0u);
}

// A read that waits for a line gone silent does not hold the stop back: the
// dialog shows it stopped by itself, and what the worker says afterwards
// changes nothing.
TEST_F(UpdateDialog, AStopOnASilentLineShowsAtOnce)
{
    ASSERT_TRUE(SetUpdateServerModes("~stall=12285"));
    std::atomic<DWORD> answeredAt{0};
    CBoxAnswerer answerer([&](const std::wstring&) {
        answeredAt = GetTickCount();
        return IDYES;
    });
    Open();
    ASSERT_TRUE(PumpUntil([&] { return StatusLine().find("Read 12285 bytes") != std::string::npos; }));
    PumpFor(300);  // the worker waits in its next read by now
    Press();
    ASSERT_TRUE(PumpUntil([&] { return StatusLine() == kStopped; }, 5000));
    EXPECT_LT(GetTickCount() - answeredAt, 2000u);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(Button(), kCloseButton);
    EXPECT_TRUE(Visible());
    EXPECT_FALSE(log_.Seen(STATUS_STOPPED));  // the worker still waits

    // A late report of the transfer is passed over.
    char late[] = "VokWeiqi.exe - Read 20000 bytes";
    SendMessageA(dlg_, StatusMessageId(), PackStatus(STATUS_READING, 1), reinterpret_cast<LPARAM>(late));
    PumpFor(100);
    EXPECT_EQ(StatusLine(), kStopped);
    EXPECT_EQ(Progress(), 0);

    Press();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions == 1; }));
    EXPECT_FALSE(Visible());
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskStop});
}

TEST_F(UpdateDialog, NoToTheStopQuestionChangesNothing)
{
    // 1 MiB a second in pieces every 10 ms: blocks come faster than they can
    // be painted.
    ASSERT_TRUE(SetUpdateServerModes("~rate=1048576"));
    CBoxAnswerer answerer(Answer(IDNO));
    Open();
    ASSERT_TRUE(WaitFor(STATUS_READING));
    Press();
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty(); }));
    EXPECT_EQ(Button(), kStopButton);
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
    EXPECT_FALSE(log_.Seen(STATUS_STOPPED));
    EXPECT_TRUE(log_.Seen(STATUS_ALL_DONE));
    // The status line follows them at its own pace.
    int readings = 0;
    for (const Status& s : log_.statuses)
        readings += s.code == STATUS_READING;
    EXPECT_LT(log_.statusLinePaints, readings) << readings << " blocks";
}

TEST_F(UpdateDialog, StopDuringTheWaitForARunningClient)
{
    // A client that ends by itself during the passes: never asked about.
    CScratchDir elsewhere("running client");
    CRunningClient running(elsewhere, "Marovent.exe", 30000);
    CBoxAnswerer answerer(Answer(IDYES));
    Open();
    Press();
    ASSERT_TRUE(PumpUntil([&] { return Button() == kCloseButton; }));
    EXPECT_FALSE(log_.Seen(STATUS_STARTING));  // still waiting for the client
    running.End();
    ASSERT_TRUE(WaitFor(STATUS_LIST_FAILED));
    Settle();
    EXPECT_EQ(log_.Codes(), (std::vector<unsigned>{STATUS_STARTING, STATUS_STOPPED, STATUS_LIST_FAILED}));
    EXPECT_EQ(StatusLine(), kStopped);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(ReadFileBytes(Downloaded("VokWeiqi.exe")), "");  // created, nothing read
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskStop});
    Press();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions == 1; }));
    EXPECT_FALSE(Visible());
    EXPECT_EQ(running.ExitCode(), 0u);
}

TEST_F(UpdateDialog, FailuresShowTheirBoxHideTheDialogAndPostNothing)
{
    struct Case {
        const char* modes;
        unsigned failure;
        const wchar_t* box;
    };
    std::vector<Case> cases = {
        {"~status=404", STATUS_INVALID, kUnpackFailed},
        {"~drop=20000", STATUS_NET_ERROR, kDownloadFailed},
        {"~reset=20000", STATUS_NET_ERROR, kDownloadFailed},
    };
    // Over https a server certificate that no root vouches for is never let pass.
    if (CDownLoadDlg::InstallerUrl().rfind("https://", 0) == 0)
        cases.push_back({"~cert=1", STATUS_NET_ERROR, kDownloadFailed});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.modes);
        log_.statuses.clear();
        ASSERT_TRUE(SetUpdateServerModes(c.modes));
        CBoxAnswerer answerer(Answer(IDOK));
        Open();
        ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty() && !Visible(); }, 20000));
        Settle();
        EXPECT_TRUE(log_.Seen(c.failure));
        EXPECT_FALSE(log_.Seen(STATUS_FILE_DONE));
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{c.box});
        // The log says what the player saw: the box's text on one line, and
        // the status line as the dialog ended.
        std::wstring boxLine(c.box);
        boxLine.erase(
            std::remove_if(boxLine.begin(), boxLine.end(), [](wchar_t w) { return w == L'\r' || w == L'\n'; }),
            boxLine.end());
        EXPECT_TRUE(trace_.Contains("box: " + AnsiFromWide(boxLine.data(), boxLine.size())));
        EXPECT_EQ(trace_.Last("status line: "), "status line: " + StatusLine());
        EXPECT_EQ(control_.completions, 0);
        EXPECT_FALSE(FileExists(client_.File("installer.txt")));
        dialog_.reset();
    }
    // A cut in every reply: three resumptions, then the box as ever.
    int lastResumptions = 0;
    for (const std::string& line : trace_.Lines())
        lastResumptions += line.rfind("GetFile resumes (3) after ", 0) == 0;
    EXPECT_GE(lastResumptions, 1);  // a reset may come before any byte does
}

// Whatever arrives is checked before anything is started: a refused file is
// deleted, the box says so, and the page stays.
TEST_F(UpdateDialog, InstallersThatFailTheSignatureCheckAreDeletedAndNeverStarted)
{
    if (!VANTORIMA_INSTALLER_CHECK)
        GTEST_SKIP() << "built with VANTORIMA_INSTALLER_SIGNERS=off";
    std::string tampered = installer_;
    tampered[tampered.size() / 2] ^= 1;
    const std::string signer = std::string(" (CN : ") + kTestSigner + ", SHA1 : " + TestSignerThumbprint() + ")";
    struct Case {
        const char* what;
        std::string bytes;
        const wchar_t* signers;
        std::string failure;  // the status text after the name, and the trace
    };
    const Case cases[] = {
        {"unsigned", ReadFileBytes(ProgramDir() + "VokWeiqi-unsigned.exe"), L"",
         "signature WinVerifyTrust error 0x800B0100"},
        {"one byte changed", tampered, L"", "signature WinVerifyTrust error 0x80096010"},
        {"bytes appended", installer_ + "MZ", L"", "signature WinVerifyTrust error 0x800B0100"},
        {"no trusted root", ReadFileBytes(ProgramDir() + "VokWeiqi-stranger.exe"), L"",
         "signature chain policy error 0x800B0109"},
        {"another publisher", installer_, L"Quorsel Ltd;00112233445566778899AABBCCDDEEFF00112233",
         "signature signer error 0x800B0004"},
    };
    const std::string served = UpdateServerRoot() + "\\service\\VokWeiqi.exe";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileBytes(served, c.bytes));
        g_signers = c.signers;
        log_.statuses.clear();
        // One screenshot of the refusal, once the box has painted itself.
        CBoxAnswerer answerer([&](const std::wstring&) {
            if (&c == cases) {
                Sleep(500);
                SaveScreenshot("update-dialog-unverified-installer");
            }
            return IDOK;
        });
        Open();
        ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty() && !Visible(); }, 20000));
        Settle();
        EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kUnverified});
        EXPECT_EQ(log_.Codes(), (std::vector<unsigned>{STATUS_STARTING, STATUS_READING, STATUS_UNVERIFIED}));
        EXPECT_EQ(log_.statuses.back().text, "VokWeiqi.exe - " + c.failure);
        const std::string check = LastCheck(trace_);
        EXPECT_EQ(check.rfind("CheckInstallerFile : " + c.failure, 0), 0u) << check;
        EXPECT_TRUE(trace_.Contains("GetFile check error : " + c.failure + " - deleted"));
        EXPECT_FALSE(FileExists(Downloaded("VokWeiqi.exe")));
        EXPECT_EQ(control_.completions, 0);
        dialog_.reset();
    }
    EXPECT_EQ(LastCheck(trace_), "CheckInstallerFile : signature signer error 0x800B0004" + signer);
    PumpFor(500);
    EXPECT_FALSE(FileExists(client_.File("installer.txt")));
    EXPECT_FALSE(FileExists(client_.File("client.txt")));
}

TEST_F(UpdateDialog, SelfInAnUnsignedBuildTakesAnyTrustedPublisherAndSaysSo)
{
    if (!VANTORIMA_INSTALLER_CHECK)
        GTEST_SKIP() << "built with VANTORIMA_INSTALLER_SIGNERS=off";
    g_signers = L"self";  // and this test program carries no signature
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_TRUE(trace_.Contains("CheckInstallerFile : self - this module is not signed, any trusted publisher passes"));
    EXPECT_EQ(LastCheck(trace_).rfind("CheckInstallerFile : suc", 0), 0u);
    ASSERT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
}

TEST_F(UpdateDialog, AListedSignerRuns)
{
    if (!VANTORIMA_INSTALLER_CHECK)
        GTEST_SKIP() << "built with VANTORIMA_INSTALLER_SIGNERS=off";
    // As a certificate viewer shows it: lower case, with colons.
    const std::string sha1 = TestSignerThumbprint();
    g_signers = L"Quorsel Ltd; ";
    for (size_t i = 0; i < sha1.size(); i += 2)
        g_signers += std::wstring(i ? L":" : L"") + wchar_t(tolower(sha1[i])) + wchar_t(tolower(sha1[i + 1]));
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(LastCheck(trace_),
              std::string("CheckInstallerFile : suc (CN : ") + kTestSigner + ", SHA1 : " + sha1 + ")");
    ASSERT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
}

// Entries of the signer setting: thumbprints whatever their case, blanks and
// colons; names only whole and exact.
TEST(InstallerSigners, ListAThumbprintOrTheExactCommonName)
{
    const char sha1[] = "C6D757A84566133D28BEA29580284165F4CEC3E4";
    const wchar_t name[] = L"Vantorima test code signing";
    EXPECT_TRUE(SignerListed(L"c6d757a84566133d28bea29580284165f4cec3e4", sha1, name));
    EXPECT_TRUE(SignerListed(L"x;C6 D7 57 A8 45 66 13 3D 28 BE A2 95 80 28 41 65 F4 CE C3 E4", sha1, L"y"));
    EXPECT_TRUE(SignerListed(L" Quorsel Ltd ;\tVantorima test code signing ", sha1, name));
    EXPECT_FALSE(SignerListed(L"C6D757A84566133D28BEA29580284165F4CEC3E", sha1, name));  // 39 digits
    EXPECT_FALSE(SignerListed(L"C6D757A84566133D28BEA29580284165F4CEC3E4C", sha1, name));  // 41
    EXPECT_FALSE(SignerListed(L"Vantorima test", sha1, name));
    EXPECT_FALSE(SignerListed(L"vantorima test code signing", sha1, name));
    EXPECT_FALSE(SignerListed(L";;", sha1, name));
    EXPECT_FALSE(SignerListed(L"", sha1, L""));  // an unnamed signer is not listed by an empty entry
    // An entry of 40 hex digits is a thumbprint only, never a name; "self"
    // is never a name either.
    const wchar_t hexName[] = L"0123456789ABCDEF0123456789ABCDEF01234567";
    EXPECT_FALSE(SignerListed(hexName, sha1, hexName));
    EXPECT_FALSE(SignerListed(L"self", sha1, L"self"));
    EXPECT_TRUE(ListsSelf(L"x; SELF ;y"));
    EXPECT_FALSE(ListsSelf(L"selfish;x"));
    // Names compare whole: one with a NUL inside is not its first part.
    const wchar_t nulName[] = L"Quorsel Ltd\0evil";
    EXPECT_FALSE(SignerListed(L"Quorsel Ltd", sha1, nulName, ARRAYSIZE(nulName) - 1));
    EXPECT_TRUE(SignerListed(L"Quorsel Ltd", sha1, nulName, 11));
}

// "self": the installer's signer has the subject and issuer of the
// certificate that signed the running module (here stood in for by files
// signed by the test publisher, by nobody, and by one that no root vouches for).
TEST(InstallerSigners, SelfIsThePublisherOfTheRunningModule)
{
    if (!VANTORIMA_INSTALLER_CHECK)
        GTEST_SKIP() << "built with VANTORIMA_INSTALLER_SIGNERS=off";
    auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    const std::wstring ours = wide(ProgramDir() + "VokWeiqi.exe");
    const std::wstring other = wide(ProgramDir() + "VokWeiqi-other.exe");
    const std::wstring unsignedModule = wide(ProgramDir() + "VokWeiqi-unsigned.exe");
    const std::wstring stranger = wide(ProgramDir() + "VokWeiqi-stranger.exe");
    const std::wstring twin = wide(ProgramDir() + "VokWeiqi-twin.exe");

    SignatureVerdict verdict = VerifyInstallerSignature(ours.c_str(), L"self", nullptr, ours.c_str());
    EXPECT_EQ(verdict.commonNameLength, 27u);  // "Vantorima test code signing", no terminator
    EXPECT_TRUE(verdict.Accepted());
    EXPECT_FALSE(verdict.selfUnsigned);
    // Another publisher that the same root vouches for passes the chain, not "self".
    verdict = VerifyInstallerSignature(other.c_str(), L"self", nullptr, ours.c_str());
    EXPECT_EQ(verdict.step, SignatureVerdict::kSigner);
    EXPECT_EQ(verdict.code, TRUST_E_SUBJECT_NOT_TRUSTED);
    EXPECT_TRUE(
        VerifyInstallerSignature(other.c_str(), L"SELF;Vantorima other publisher", nullptr, ours.c_str()).Accepted());
    // A module whose own signature does not verify vouches for nobody.
    verdict = VerifyInstallerSignature(ours.c_str(), L"self", nullptr, stranger.c_str());
    EXPECT_EQ(verdict.step, SignatureVerdict::kSigner);
    // The publisher's name from another CA of the same root is not "self".
    verdict = VerifyInstallerSignature(twin.c_str(), L"self", nullptr, ours.c_str());
    EXPECT_EQ(verdict.step, SignatureVerdict::kSigner);
    EXPECT_TRUE(VerifyInstallerSignature(twin.c_str(), L"", nullptr, ours.c_str()).Accepted());
    // A module without a signature: in a developer's build any trusted
    // publisher passes and it says so; a signed build refuses every one.
    const struct {
        bool signedBuild;
        const std::wstring& installer;
        SignatureVerdict::Step step;
    } unsignedCases[] = {
        {false, other, SignatureVerdict::kAccepted},
        {false, stranger, SignatureVerdict::kChainPolicy},
        {true, ours, SignatureVerdict::kSigner},
        {true, other, SignatureVerdict::kSigner},
    };
    for (const auto& c : unsignedCases) {
        SCOPED_TRACE(c.signedBuild);
        verdict =
            VerifyInstallerSignature(c.installer.c_str(), L"self", nullptr, unsignedModule.c_str(), c.signedBuild);
        EXPECT_EQ(verdict.step, c.step);
        EXPECT_EQ(verdict.selfUnsigned, !c.signedBuild && c.step == SignatureVerdict::kAccepted);
        EXPECT_EQ(verdict.selfUnreadable, c.signedBuild);
    }
}

namespace {

// The Vantorima-* folders under dir.
std::vector<std::string> DownloadFolders(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\Vantorima-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The accounts that path's DACL names, as S-1-5-... texts.
std::vector<std::string> DaclAccounts(const std::string& path)
{
    std::vector<std::string> accounts;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return {"<unreadable>"};
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        char* sid = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ConvertSidToStringSidA(&ace->SidStart, &sid)) {
            accounts.push_back(sid);
            LocalFree(sid);
        }
    }
    LocalFree(descriptor);
    return dacl ? accounts : std::vector<std::string>{"<no DACL>"};
}

std::string CurrentUserSid()
{
    HANDLE token = nullptr;
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    char* sid = nullptr;
    std::string text;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenUser, buffer, size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    if (token)
        CloseHandle(token);
    return text;
}

}  // namespace

// Each download's folder names only the user, SYSTEM and the administrators;
// it outlives its installer only until the next download, which sweeps every
// earlier folder of the user that nothing holds.
TEST_F(UpdateDialog, EachDownloadFolderIsTheUsersOwnAndTheNextDownloadSweepsTheLast)
{
    // A killed dialog's partial file, a running installer (a file held open),
    // an update that runs now (its folder held as the dialog holds it), and
    // a folder that is not a download's.
    const std::string killed = "Vantorima-00112233445566aa", running = "Vantorima-ffeeddccbbaa9988",
                      busy = "Vantorima-0123456789abcdef", foreign = "Vantorima-notadownload";
    for (const std::string& name : {killed, running, busy, foreign})
        ASSERT_TRUE(CreateDirectoryA(temp_.File(name).c_str(), nullptr));
    for (const std::string& name : {killed, running, busy})
        ASSERT_TRUE(WriteFileBytes(temp_.File(name + "\\VokWeiqi.exe"), "partial"));
    HANDLE held = CreateFileA(temp_.File(running + "\\VokWeiqi.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE busyFolder = CreateFileA(temp_.File(busy).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(busyFolder, INVALID_HANDLE_VALUE);

    std::vector<std::string> kept = {busy, foreign, running};
    std::sort(kept.begin(), kept.end());
    std::string previous = killed;
    const std::string user = CurrentUserSid();
    CBoxAnswerer answerer(Answer(IDOK));
    for (int road = 0; road < 2; ++road) {
        SCOPED_TRACE(road);
        control_.completions = 0;
        Open();
        ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
        ASSERT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
        std::vector<std::string> now = DownloadFolders(temp_.Path());
        // The folder of partial downloads stays, as private as a download's.
        const auto partials = std::find(now.begin(), now.end(), kPartialFolder);
        ASSERT_NE(partials, now.end());
        now.erase(partials);
        const std::vector<std::string> accounts = DaclAccounts(temp_.File(kPartialFolder));
        EXPECT_FALSE(accounts.empty());
        for (const std::string& account : accounts) {
            EXPECT_TRUE(account == "S-1-5-18" || account == "S-1-5-32-544" || account == user) << account;
        }
        EXPECT_FALSE(std::binary_search(now.begin(), now.end(), previous)) << previous;
        EXPECT_TRUE(std::includes(now.begin(), now.end(), kept.begin(), kept.end()));
        std::vector<std::string> added;
        std::set_difference(now.begin(), now.end(), kept.begin(), kept.end(), std::back_inserter(added));
        ASSERT_EQ(added.size(), 1u);
        for (const std::string& account : DaclAccounts(temp_.File(added[0]))) {
            EXPECT_TRUE(account == "S-1-5-18" || account == "S-1-5-32-544" || account == user) << account;
        }
        // The installer ends; what its dialog could not remove, the next download does.
        DeleteFileA(client_.File("installer.txt").c_str());
        PumpFor(500);
        dialog_.reset();
        previous = added[0];
    }
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_TRUE(FileExists(temp_.File(busy + "\\VokWeiqi.exe")));
    CloseHandle(busyFolder);
    CloseHandle(held);
}

TEST_F(UpdateDialog, AnUnwritableDirectoryIsAFileError)
{
    const std::string missing = temp_.Path() + "\\missing";
    SetEnvironmentVariableA("TMP", missing.c_str());
    SetEnvironmentVariableA("TEMP", missing.c_str());
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return !Visible(); }, 20000));
    Settle();
    EXPECT_EQ(log_.Codes(), (std::vector<unsigned>{STATUS_STARTING, STATUS_FILE_ERROR}));
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kDownloadFailed});
    EXPECT_EQ(control_.completions, 0);
}

// A download that fills the disk gives back the space it took: the box is
// the file error's as ever, and nothing stays in the temporary directory.
TEST_F(UpdateDialog, AFullDiskLeavesNothingInTheTemporaryDirectory)
{
    // A 2 MiB file system of its own (a tmpfs: only root mounts one) and a
    // 10 MiB installer, with a strong validator, so it is written as a partial.
    CScratchDir small("update small temp");
    const std::string mountPoint = UnixPath(small.Path());
    ULARGE_INTEGER size = {};
    if (mountPoint.empty() || !RunUnix("mount -t tmpfs -o size=2m tmpfs '" + mountPoint + "'") ||
        !GetDiskFreeSpaceExA(small.Path().c_str(), nullptr, &size, nullptr) || size.QuadPart > (4u << 20))
        GTEST_SKIP() << "no small disk: mounting a tmpfs needs Wine and root";
    struct CUnmount {
        std::string point;
        ~CUnmount() { RunUnix("umount -l '" + point + "'"); }
    } unmount{mountPoint};
    SetEnvironmentVariableA("TMP", small.Path().c_str());
    SetEnvironmentVariableA("TEMP", small.Path().c_str());
    ASSERT_TRUE(WriteFileBytes(UpdateServerRoot() + "\\service\\VokWeiqi.exe", std::string(10u << 20, 'v')));

    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty() && !Visible(); }, 30000));
    Settle();
    EXPECT_EQ(log_.Codes(), (std::vector<unsigned>{STATUS_STARTING, STATUS_READING, STATUS_FILE_ERROR}));
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kDownloadFailed});
    // The status line says why, in the system's words.
    char full[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_DISK_FULL, 0, full,
                   sizeof full, nullptr);
    EXPECT_EQ(trace_.Last("GetFile file error : ").find(std::string(full).substr(0, 4)), 21u) << full;
    EXPECT_TRUE(trace_.Contains("partial download folder : " + small.File("Vantorima-partial")));
    EXPECT_EQ(control_.completions, 0);
    dialog_.reset();
    const auto empty = [&] {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(small.File("*").c_str(), &found);
        int names = 0;
        if (search != INVALID_HANDLE_VALUE) {
            do
                names += std::string(found.cFileName) != "." && std::string(found.cFileName) != "..";
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        return names == 0;
    };
    EXPECT_TRUE(PumpUntil(empty, 5000));
}

TEST_F(UpdateDialog, ARefusalToCloseTheClientEndsTheDialogQuietly)
{
    CScratchDir elsewhere("running client");
    CRunningClient running(elsewhere, "Marovent.exe", 30000);
    CBoxAnswerer answerer(Answer(IDNO));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return !Visible(); }, 20000));
    Settle();
    EXPECT_EQ(log_.Codes(), std::vector<unsigned>{STATUS_ABORT});
    EXPECT_EQ(log_.statuses[0].text, "User Stop!");
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskClose});  // the terminator's, none of the dialog's
    EXPECT_EQ(control_.completions, 0);
    EXPECT_TRUE(trace_.Contains("CreateDownloadThread:KillProcess"));
    EXPECT_TRUE(log_.animationPlays.empty());
    EXPECT_TRUE(running.Running());
}

TEST_F(UpdateDialog, YesClosesTheRunningClientAndTheDownloadRuns)
{
    ASSERT_EQ(RunsOnWindows9x(), InWindows98Run());
    CScratchDir elsewhere("running client");
    CRunningClient running(elsewhere, "Marovent.exe", 30000);
    CBoxAnswerer answerer(Answer(IDYES));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kAskClose});
    EXPECT_EQ(running.ExitCode(), 1u);
    EXPECT_EQ(log_.Codes(),
              (std::vector<unsigned>{STATUS_STARTING, STATUS_READING, STATUS_FILE_DONE, STATUS_ALL_DONE}));
    EXPECT_TRUE(PumpUntil([&] { return FileExists(client_.File("installer.txt")); }));
    // A system without security makes the folder without an access list.
    EXPECT_EQ(trace_.Contains("download folder without an access list: the system has no security"), RunsOnWindows9x());
}

// Windows 9x has no security: the download folder's access list cannot be
// made, and the terminator enumerates with the snapshot functions.
TEST(UpdateDialogOnWindows98, TheRunningClientIsClosedAndTheInstallerRuns)
{
    EXPECT_EQ(RunAgainOnWindows98("UpdateDialog.YesClosesTheRunningClientAndTheDownloadRuns"), 0u);
}

TEST_F(UpdateDialog, EnterEscAndUnknownCodesChangeNothingAndAStalledDialogGoesAtOnce)
{
    ASSERT_TRUE(SetUpdateServerModes("~stall=12285"));
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] {  // 5, then the blocks of what came
        return !log_.statuses.empty() && log_.statuses.back().text.find("Read 12285 bytes") != std::string::npos;
    }));
    Settle();
    const std::string status = StatusLine();
    EXPECT_NE(status.find("Read 12285 bytes"), std::string::npos) << status;

    SendMessageA(dlg_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    SendMessageA(dlg_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(Visible());
    // Status messages that its worker did not send, of every code, from
    // this thread, another thread or posted, with a pointer of their own or
    // none: the dialog reads nothing and does nothing, not even a refresh.
    SetWindowTextA(Item(204), "tampered");
    const int progress = Progress();
    char forged[] = "forged";
    for (unsigned code = 0; code <= 12; ++code) {
        for (LPARAM pointer : {reinterpret_cast<LPARAM>(forged), LPARAM(0), LPARAM(0x1000)}) {
            const WPARAM wParam = MAKEWPARAM(code, code == STATUS_READING ? 50 : 0);
            SendMessageA(dlg_, StatusMessageId(), wParam, pointer);
            std::atomic<bool> sent{false};
            std::thread other([&] {
                SendMessageA(dlg_, StatusMessageId(), wParam, pointer);
                sent = true;
            });
            PumpUntil([&] { return sent.load(); });
            other.join();
            PostMessageA(dlg_, StatusMessageId(), wParam, pointer);
        }
    }
    PumpFor(500);
    EXPECT_EQ(StatusLine(), "tampered");
    EXPECT_EQ(Progress(), progress);
    EXPECT_EQ(Button(), kStopButton);
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_FALSE(FileExists(client_.File("installer.txt")));
    EXPECT_EQ(control_.completions, 0);

    // The worker is blocked in a read that never ends.
    const DWORD start = GetTickCount();
    dialog_.reset();
    EXPECT_LT(GetTickCount() - start, 1000u);
    PumpFor(3000);  // and nothing happens afterwards
    EXPECT_EQ(control_.completions, 0);
}

// Another program of the user tries to write, replace, rename or delete the
// installer (and its folder) while it downloads, once it is checked, and just
// before it starts: nothing of it works, and what runs is what was checked,
// from its own folder.
TEST_F(UpdateDialog, NobodyCanSwapTheInstallerBetweenItsCheckAndItsStart)
{
    const std::string replacement = temp_.File("replacement.exe");
    std::vector<std::pair<unsigned, DWORD>> attempts;
    log_.onStatus = [&](unsigned code) {
        if (code != STATUS_FILE_DONE && code != STATUS_ALL_DONE && (code != STATUS_READING || !attempts.empty()))
            return;
        CopyFileA((ProgramDir() + "Marovent.exe").c_str(), replacement.c_str(), FALSE);
        // Written in the partial folder, then moved into the download's own.
        const std::string target = code == STATUS_READING ? PartialFile() : Downloaded("VokWeiqi.exe");
        const std::string command =
            "\"" + ProgramDir() + "SwapAttempt.exe\" \"" + target + "\" \"" + replacement + "\"";
        attempts.emplace_back(code, RunAndWait(command));
    };
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return control_.completions > 0; }, 30000));
    log_.onStatus = nullptr;
    EXPECT_EQ(
        attempts,
        (std::vector<std::pair<unsigned, DWORD>>{{STATUS_READING, 0}, {STATUS_FILE_DONE, 0}, {STATUS_ALL_DONE, 0}}));
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(ReadFileBytes(Downloaded("VokWeiqi.exe")), installer_);
    const std::string record = WaitForRecord(client_.File("installer.txt"));
    EXPECT_EQ(RecordField(record, "path"), Downloaded("VokWeiqi.exe"));
    const std::string folder = Downloaded("");
    EXPECT_EQ(RecordField(record, "cwd"), folder.substr(0, folder.size() - 1));
    if (VANTORIMA_INSTALLER_CHECK) {
        EXPECT_EQ(LastCheck(trace_).rfind("CheckInstallerFile : suc", 0), 0u);
    }

    // The folder goes with the dialog where nothing holds it any more.
    PumpFor(500);
    dialog_.reset();
    EXPECT_FALSE(FileExists(folder.substr(0, folder.size() - 1)));
}

// The control goes while its update dialog is still downloading.
TEST_F(UpdateDialog, AControlThatGoesTakesItsDialogAlong)
{
    ASSERT_TRUE(SetUpdateServerModes("~stall=8190"));
    class CLauncher : public CWindow {
    public:
        HWND dialog = nullptr;

    protected:
        LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
        {
            if (message == WM_CREATE)
                m_launch.Launch(m_hWnd, {});
            return CWindow::WindowProc(message, wParam, lParam);
        }

    private:
        CLaunchSequence m_launch{[] {},
                                 [this](HWND control, const std::function<void()>& handedOver) {
                                     auto opened = CDownLoadDlg::Open(control, handedOver);
                                     dialog = opened->GetSafeHwnd();
                                     return opened;
                                 }};
    };
    CBoxAnswerer answerer(Answer(IDOK));
    auto launcher = std::make_unique<CLauncher>();
    RECT rect = {120, 10, 220, 60};
    ASSERT_TRUE(launcher->CreateEx(0, "", WS_CHILD | WS_VISIBLE, rect, page_.GetSafeHwnd(), 2));
    const HWND dialog = launcher->dialog;
    ASSERT_TRUE(IsWindow(dialog));
    ASSERT_TRUE(PumpUntil([&] { return log_.Seen(STATUS_READING); })) << answerer.Texts().size();

    const DWORD start = GetTickCount();
    launcher.reset();
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(IsWindow(dialog));
    PumpFor(2000);
    EXPECT_TRUE(answerer.Texts().empty());
}

// Where the client is looked for: the user's App Paths entry, then the
// absolute directories of the path, never the current directory.
TEST(InstalledProgram, IsFoundByRegistrationThenOnThePathNeverInTheCurrentDirectory)
{
    CScratchDir current("cwd"), onPath("on path"), registered("registered");
    for (const CScratchDir* dir : {&current, &onPath, &registered})
        ASSERT_TRUE(WriteFileBytes(dir->File("Marovent.exe"), "MZ"));
    CreateDirectoryA(current.File("sub").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(current.File("sub\\Marovent.exe"), "MZ"));
    char previousDir[MAX_PATH] = "", previousPath[4096] = "";
    GetCurrentDirectoryA(sizeof previousDir, previousDir);
    GetEnvironmentVariableA("PATH", previousPath, sizeof previousPath);
    SetCurrentDirectoryA(current.Path().c_str());

    // Entries that name the current directory, or one relative to it, are passed over.
    SetEnvironmentVariableA("PATH", (".;;sub;\"" + onPath.Path() + "\";" + previousPath).c_str());
    EXPECT_EQ(FindInstalledProgram("Marovent.exe"), onPath.File("Marovent.exe"));
    {
        CAppPathsEntry entry("\"" + registered.File("Marovent.exe") + "\"");
        EXPECT_EQ(FindInstalledProgram("Marovent.exe"), registered.File("Marovent.exe"));
    }
    {
        SetEnvironmentVariableA("VANTORIMA_CLIENT_DIR", registered.Path().c_str());
        CAppPathsEntry entry("%VANTORIMA_CLIENT_DIR%\\Marovent.exe", REG_EXPAND_SZ);
        EXPECT_EQ(FindInstalledProgram("Marovent.exe"), registered.File("Marovent.exe"));
        SetEnvironmentVariableA("VANTORIMA_CLIENT_DIR", nullptr);
    }
    for (const std::string& stale : {registered.File("gone.exe"), std::string("Marovent.exe"), registered.Path()}) {
        CAppPathsEntry entry(stale);
        EXPECT_EQ(FindInstalledProgram("Marovent.exe"), onPath.File("Marovent.exe")) << stale;
    }
    SetEnvironmentVariableA("PATH", (std::string(".;sub;") + previousPath).c_str());
    EXPECT_EQ(FindInstalledProgram("Marovent.exe"), "");

    SetEnvironmentVariableA("PATH", previousPath);
    SetCurrentDirectoryA(previousDir);
}

// The animation drawn at build time: its format, and that the animation
// control plays it.
TEST(UpdateAnimation, IsAnRle8ClipThatTheAnimationControlOpens)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(201), "AVI");
    ASSERT_TRUE(found);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, found)));
    const DWORD size = SizeofResource(nullptr, found);
    const std::string avi(reinterpret_cast<const char*>(bytes), size);
    ASSERT_EQ(avi.substr(0, 4), "RIFF");
    ASSERT_EQ(avi.substr(8, 4), "AVI ");
    auto u32 = [&](size_t at) { return *reinterpret_cast<const uint32_t*>(bytes + at); };
    const size_t avih = avi.find("avih") + 8, strh = avi.find("strh") + 8, strf = avi.find("strf") + 8;
    EXPECT_EQ(u32(avih), 66667u);  // microseconds per frame: 15 frames a second
    EXPECT_EQ(u32(avih + 16), 31u);  // frames
    EXPECT_EQ(u32(avih + 24), 1u);  // one stream
    EXPECT_EQ(u32(avih + 32), 272u);  // width
    EXPECT_EQ(u32(avih + 36), 60u);  // height
    EXPECT_EQ(avi.substr(strh, 4), "vids");
    EXPECT_EQ(avi.find("auds"), std::string::npos);
    EXPECT_EQ(*reinterpret_cast<const uint16_t*>(bytes + strf + 14), 8u);  // bits per pixel
    EXPECT_EQ(u32(strf + 16), 1u);  // BI_RLE8

    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
    CWindow parent;
    RECT rect = {0, 0, 300, 100};
    ASSERT_TRUE(parent.CreateEx(0, "animation", WS_OVERLAPPEDWINDOW | WS_VISIBLE, rect, nullptr));
    HWND animation = CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT, 0, 0, 272, 60,
                                     parent.GetSafeHwnd(), nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_TRUE(SendMessageA(animation, ACM_OPENA, 0, 201));
    EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)));
    PumpFor(300);
    SendMessageA(animation, ACM_STOP, 0, 0);
}

// A connection that drops in the middle costs a pause, not the download.
TEST_F(UpdateDialog, ADroppedOrResetConnectionIsResumedAndTheInstallerRuns)
{
    for (const char* modes : {"~once/~drop=600000", "~slow=20,65536/~once/~reset=600000"}) {
        ExpectTheWholeInstallerRuns(modes, [this] {
            // The line says what happens; the bar stays where it was.
            ASSERT_TRUE(PumpUntil([&] { return StatusLine().find("断线重连中") != std::string::npos; }));
            EXPECT_GT(Progress(), 0);
            Shot("reconnecting");
        });
    }
}

// The whole file again from a server without ranges, or one whose file
// changed (here in its validators only: the new file has the same bytes);
// never a part of another reply.
TEST_F(UpdateDialog, ServersThatCannotResumeStartOverOrEndWithTheBox)
{
    for (const char* modes : {"~norange/~once/~drop=600000", "~changing/~once/~drop=600000"})
        ExpectTheWholeInstallerRuns(modes);
    EXPECT_EQ(trace_.Count("GetFile starts over : " + std::to_string(installer_.size()) + " bytes"), 2);

    ASSERT_TRUE(SetUpdateServerModes("~badrange/~once/~drop=600000"));
    log_.statuses.clear();
    control_.completions = 0;
    CBoxAnswerer answerer(Answer(IDOK));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return !answerer.Texts().empty() && !Visible(); }, 20000));
    Settle();
    EXPECT_EQ(answerer.Texts(), std::vector<std::wstring>{kDownloadFailed});
    EXPECT_EQ(control_.completions, 0);
    EXPECT_FALSE(log_.Seen(STATUS_FILE_DONE));
    EXPECT_FALSE(FileExists(client_.File("installer.txt")));
}

TEST_F(UpdateDialog, StopDuringThePauseBeforeAResumptionStopsAtOnce)
{
    ASSERT_TRUE(SetUpdateServerModes("~drop=600000"));
    CBoxAnswerer answerer(Answer(IDYES));
    Open();
    ASSERT_TRUE(PumpUntil([&] { return StatusLine().find("断线重连中") != std::string::npos; }));
    Press();
    ASSERT_TRUE(WaitFor(STATUS_LIST_FAILED));
    Settle();
    EXPECT_TRUE(trace_.Contains("GetFile stopped during the pause"));  // not after it
    EXPECT_FALSE(trace_.Contains("GetFile resumes (2) after 600000 bytes"));
    EXPECT_EQ(StatusLine(), kStopped);
    EXPECT_EQ(Button(), kCloseButton);
    EXPECT_EQ(control_.completions, 0);
    EXPECT_EQ(ReadFileBytes(PartialFile()).size(), 600000u);  // the part stays, for the next press
}
