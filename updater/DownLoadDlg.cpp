#include "updater/DownLoadDlg.h"

#include <shellapi.h>

#include <utility>

#include "BuildConfig.h"
#include "support/Trace.h"
#include "updater/ClientTerminator.h"
#include "updater/DownloadThread.h"
#include "updater/InstallerSignature.h"
#include "updater/InstalledProgram.h"
#include "updater/MessageCaption.h"
#include "updater/StatusMessage.h"
#include "updater/UnpackPass.h"
#include "updater/WebGrab.h"

namespace {

constexpr UINT kTemplateId = 201;
constexpr UINT kAnimationResource = 201;
constexpr int kAnimationId = 201;
constexpr int kProgressId = 202;
constexpr int kButtonId = 203;
constexpr int kStatusId = 204;
// How long deleting the dialog waits for a worker whose read was cut.
constexpr DWORD kWorkerStopWait = 300;
constexpr UINT_PTR kShowTimer = 1;
constexpr DWORD kShowInterval = VANTORIMA_STATUS_PAINT_MS;

const char kAgent[] = "Quessel";
const char kDownloadFailed[] = "下载过程中出现问题，请重试。";
const char kUnpackFailed[] = " 自动升级过程中，解压缩出现问题，\r\n\r\n请到主页重新下载。";
const char kUnverified[] = "下载的安装程序未能通过验证，\r\n\r\n请到主页重新下载客户端。";
const char kStoppedStatus[] = "升级已经被中断。";
const char kAskStop[] = "真的终止升级吗？";
const char kCloseButton[] = "关 闭";

void OpenThroughShell(const std::string& file)
{
    ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The client by its name, where installed programs are found. When there is
// none (no client installed yet) that is no news for the user, and a shell
// error box here would hold up the installer's start.
void OpenClientByName(const std::string& name)
{
    const std::string path = FindInstalledProgram(name);
    if (path.empty())
        return;
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_FLAG_NO_UI;
    open.lpFile = path.c_str();
    open.nShow = SW_SHOWNORMAL;
    ShellExecuteExA(&open);
}

}  // namespace

std::string CDownLoadDlg::InstallerUrl()
{
    return std::string(VANTORIMA_UPDATE_ORIGIN "/service/") + kInstallerName;
}

CDownLoadDlg::CDownLoadDlg(std::function<void()> handedOver)
    : CDialogBase(kTemplateId)
    , m_handedOver(std::move(handedOver))
    , m_strInstallerURL(InstallerUrl())
    , m_webGrab(std::make_shared<CWebGrab>())
{
    // The template's progress bar and animation are common controls; a host
    // need not have registered them.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
}

CDownLoadDlg::~CDownLoadDlg()
{
    // The window goes first: the worker's reports then reach no dialog.
    DestroyWindow();
    m_webGrab->Abort();
    m_workerThread.Wait(kWorkerStopWait);
}

void CDownLoadDlg::DoDataExchange(const CDataExchange& dx)
{
    dx.Text(kStatusId, m_strStatus);
    dx.Control(kAnimationId, m_animate);
    dx.Control(kProgressId, m_progress);
}

BOOL CDownLoadDlg::OnInitDialog()
{
    CDialogBase::OnInitDialog();
    CenterWindow(m_hWnd);
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    m_animate.Open(kAnimationResource);  // the worker starts it

    char temp[1024];
    DWORD length = GetTempPathA(sizeof temp, temp);
    m_strTempPath.assign(temp, length < sizeof temp ? length : 0);

    TraceOut("link :%s", m_strInstallerURL.c_str());
    m_webGrab->AddDownload(m_strInstallerURL);
    m_webGrab->Initialize(m_hWnd, kAgent, m_strTempPath);
    m_webGrab->SetFileCheck(kInstallerCheck);
    std::shared_ptr<CWebGrab> engine = m_webGrab;
    const HWND animation = m_animate.GetSafeHwnd();
    if (m_workerThread.Start([engine, animation] { CreateDownloadThread(*engine, animation); }))
        m_pWorker = &m_workerThread;
    return TRUE;
}

bool CDownLoadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == StatusMessageId()) {
        result = OnStatus(wParam, lParam);
        return true;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
        OnExit();
        return true;
    }
    if (message == WM_TIMER && wParam == kShowTimer) {
        ShowProgressNow();
        return true;
    }
    return false;
}

LRESULT CDownLoadDlg::OnStatus(WPARAM wParam, LPARAM lParam)
{
    const unsigned code = StatusCodeOf(static_cast<uint32_t>(wParam));
    const int percent = static_cast<int>(StatusPercentOf(static_cast<uint32_t>(wParam)));
    const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
    if (code != STATUS_READING)
        ShowProgressNow();
    switch (code) {
    case STATUS_UNVERIFIED:
        if (!VANTORIMA_INSTALLER_CHECK)
            break;  // without the check no such report exists
        [[fallthrough]];
    case STATUS_NET_ERROR:
    case STATUS_FILE_ERROR:
        StopAnimation();
        m_strStatus = text;
        ShowError(code == STATUS_UNVERIFIED ? kUnverified : kDownloadFailed);
        if (WindowGone())
            return ReleaseWorker();
        SetProgress(0);
        m_pWorker = nullptr;
        Exit();
        return 0;
    case STATUS_STOPPED:
        StopAnimation();
        m_strStatus = kStoppedStatus;
        SetProgress(0);
        m_pWorker = nullptr;
        break;
    case STATUS_READING:
        m_nPercent = percent;
        m_strStatus = text;
        ShowProgressSoon();
        return 0;
    case STATUS_STARTING:
        SetProgress(0);
        break;
    case STATUS_FILE_DONE:
        m_strStatus = text;
        SetProgress(100);
        break;
    case STATUS_ALL_DONE:
        StopAnimation();
        // Nothing may be pressed during the hand-over.
        EnableWindow(GetDlgItem(m_hWnd, kButtonId), FALSE);
        m_strStatus = text;
        SetProgress(100);
        m_pWorker = nullptr;
        FinishUpdate();
        if (WindowGone())
            return ReleaseWorker();
        // The directory as the system gives it ends in a backslash; the engine
        // stored the file under directory + "\" + name, and so is it opened.
        m_strTempPath += "\\";
        m_strTempPath += kInstallerName;
        OpenThroughShell(m_strTempPath);
        if (WindowGone())  // the shell may run the page's code too, and the control go
            return ReleaseWorker();
        m_handedOver();
        break;
    case STATUS_LIST_FAILED:
        StopAnimation();
        m_strStatus = text;
        m_pWorker = nullptr;
        if (!m_bStopConfirmed) {
            TraceOut("test1");
            ShowError(kUnpackFailed);
            if (WindowGone())
                return ReleaseWorker();
            Exit();
        }
        return 0;
    case STATUS_INVALID:
        m_strStatus = text;
        m_pWorker = nullptr;
        return 0;
    case STATUS_ABORT:
        Exit();
        return 0;
    default:
        break;
    }
    UpdateData(false);
    return 0;
}

void CDownLoadDlg::OnExit()
{
    TraceOut("CDownLoadDlg::OnExit");
    if (m_bStopConfirmed) {
        Exit();
        m_handedOver();
        return;
    }
    ShowProgressNow();
    if (MessageBoxA(m_hWnd, kAskStop, kMessageCaption, MB_YESNO | MB_ICONQUESTION) != IDYES || WindowGone())
        return;
    if (m_pWorker)
        m_webGrab->SetStop(1);
    SetDlgItemTextA(m_hWnd, kButtonId, kCloseButton);
    m_bStopConfirmed = 1;
}

void CDownLoadDlg::Exit()
{
    TraceOut("CDownLoadDlg::Exit");
    ShowProgressNow();
    m_animate.Close();
    EndDialog(IDCANCEL);
    if (m_hidden)
        m_hidden();
}

void CDownLoadDlg::FinishUpdate()
{
    // Nothing sets either directory yet: both are empty.
    const std::string downloadDir, installDir;
    if (!RunUnpackPass(m_unpackList, downloadDir, installDir)) {
        TraceOut("test3");
        ShowError(kUnpackFailed);
        if (!WindowGone())
            Exit();
        return;
    }
    OpenClientByName(installDir + kClientExeName);
    Exit();
}

void CDownLoadDlg::ShowError(const char* text)
{
    MessageBoxA(m_hWnd, text, kMessageCaption, MB_OK | MB_ICONERROR);
}

LRESULT CDownLoadDlg::ReleaseWorker()
{
    ReplyMessage(0);
    return 0;
}

void CDownLoadDlg::ShowProgressSoon()
{
    const bool timerSet = m_bShowPending;
    m_bShowPending = true;
    if (GetTickCount() - m_shownAt >= kShowInterval)
        ShowProgressNow();
    else if (!timerSet)
        SetTimer(m_hWnd, kShowTimer, kShowInterval, nullptr);  // for the last report before a pause
}

void CDownLoadDlg::ShowProgressNow()
{
    if (!m_bShowPending)
        return;
    m_bShowPending = false;
    KillTimer(m_hWnd, kShowTimer);
    SetProgress(m_nPercent);
    UpdateData(false);
    m_shownAt = GetTickCount();
}
