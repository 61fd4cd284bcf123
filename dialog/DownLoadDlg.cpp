#include "dialog/DownLoadDlg.h"

#include <utility>

#include "BuildConfig.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "terminator/ClientTerminator.h"
#include "dialog/DownloadThread.h"
#include "download/InstallerSignature.h"
#include "dialog/ShellStart.h"
#include "support/MessageCaption.h"
#include "download/StatusMessage.h"
#include "download/UnpackPass.h"
#include "download/WebGrab.h"
#include "framework/sys/LocalFile.h"
#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "res/Resource.h"

namespace {

constexpr UINT kTemplateId = IDD_UPDATE;
constexpr UINT kAnimationResource = IDR_UPDATE_ANIMATION;
constexpr int kAnimationId = IDC_UPDATE_ANIMATION;
constexpr int kProgressId = IDC_UPDATE_PROGRESS;
constexpr int kButtonId = IDC_UPDATE_BUTTON;
constexpr int kStatusId = IDC_UPDATE_STATUS;
// How long deleting the dialog waits for a worker whose read was cut.
constexpr DWORD kWorkerStopWait = 300;
constexpr UINT_PTR kShowTimer = 1;
constexpr DWORD kShowInterval = VANTORIMA_STATUS_PAINT_MS;
// How long a confirmed stop waits for the worker's word before the dialog
// shows it stopped by itself: a read that waits for a silent line cannot be
// cut everywhere (Wine lets it wait until the server closes).
constexpr UINT_PTR kStopTimer = 2;
constexpr DWORD kStopGrace = 100;
// Posted on a change of the dialog's DPI: the board is placed again once the
// dialog manager has scaled the dialog and its controls.
constexpr UINT kPlaceAnimation = WM_APP + 1;

const char kDownloadFailed[] = "下载过程中出现问题，请重试。";
const char kUnpackFailed[] = " 自动升级过程中，解压缩出现问题，\r\n\r\n请到主页重新下载。";
const char kUnverified[] = "下载的安装程序未能通过验证，\r\n\r\n请到主页重新下载客户端。";
const char kStoppedStatus[] = "升级已经被中断。";
const char kAskStop[] = "真的终止升级吗？";
const char kCloseButton[] = "关 闭";

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
    // need not have registered them. Their library is loaded here, not with
    // the program: loading it registers window classes, which under Wine
    // starts a desktop process, and a program that only launches the client
    // (the link handler) should not pay for that. It stays loaded: the
    // classes live in it. From the system folder only: a browser's process
    // may search its current folder, where a page's download may lie (the
    // host's own search order stays as the host set it).
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE controls = LoadSystemLibrary(L"comctl32.dll");
    if (LOG_LAST_ERROR_IF(!controls))
        return;
    const auto init = ProcAddress<InitControls>(controls, "InitCommonControlsEx");
    if (!LOG_LAST_ERROR_IF(!init))
        LOG_IF_WIN32_BOOL_FALSE(init(&classes));
}

CDownLoadDlg::~CDownLoadDlg()
{
    // An owner that deletes a dialog that never ended (a page closed
    // meanwhile): what it showed last.
    TraceStatusLine();
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
    const CTraceSource source(TraceProgram::kUpdateDialog);
    CDialogBase::OnInitDialog();
    CenterWindow(m_hWnd);
    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    // The worker starts it. Opening sizes the control to the frames.
    if (!LOG_LAST_ERROR_IF(!m_animate.Open(kAnimationResource))) {
        RECT frame;
        GetWindowRect(m_animate.GetSafeHwnd(), &frame);
        m_animationFrame = {frame.right - frame.left, frame.bottom - frame.top};
        PlaceAnimation();
    }

    // Downloads go to a folder of their own: the temporary directory itself
    // is open to every program of the user.
    m_folder.Create(TempPath());

    TraceOut(TraceLine::kInstallerLink, m_strInstallerURL.c_str());
    m_webGrab->AddDownload(m_strInstallerURL);
    // Without a folder no file can be made: a name that no file system takes.
    m_webGrab->Initialize(m_hWnd, VANTORIMA_AGENT, m_folder.Path().empty() ? "<no folder>" : m_folder.Path());
    m_webGrab->SetFileCheck(kInstallerCheck);
    // What a download that ends early leaves, the next press continues.
    m_webGrab->OpenPartialFolder(m_folder);
    std::shared_ptr<CWebGrab> engine = m_webGrab;
    const HWND animation = m_animate.GetSafeHwnd();
    if (m_workerThread.Start([engine, animation] { CreateDownloadThread(*engine, animation); }))
        m_pWorker = &m_workerThread;
    return TRUE;
}

bool CDownLoadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    const CTraceSource source(TraceProgram::kUpdateDialog);
    if (message == StatusMessageId()) {
        // Only what this dialog's worker sent, and each report once.
        CStatusChannel::Report report;
        result =
            m_webGrab->Channel().Take(wParam, lParam, report) ? OnStatus(report.code, report.percent, report.text) : 0;
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
    if (message == WM_DPICHANGED) {
        PostMessage(kPlaceAnimation);
        return false;  // the dialog manager scales the dialog (per-monitor v2)
    }
    if (message == kPlaceAnimation) {
        PlaceAnimation();
        return true;
    }
    if (message == WM_TIMER && wParam == kStopTimer) {
        KillTimer(m_hWnd, kStopTimer);
        if (m_pWorker)
            ShowStopped();
        return true;
    }
    return false;
}

LRESULT CDownLoadDlg::OnStatus(unsigned code, unsigned percent, const std::string& text)
{
    if (PassedOver(code))
        return 0;
    if (code != STATUS_READING)
        ShowProgressNow();
    switch (code) {
    case STATUS_READING:
        m_nPercent = static_cast<int>(percent);
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
    case STATUS_STOPPED:
        SetStopped();
        break;
    case STATUS_UNVERIFIED:
        if (!VANTORIMA_INSTALLER_CHECK)
            break;  // without the check no such report exists
        [[fallthrough]];
    case STATUS_NET_ERROR:
    case STATUS_FILE_ERROR:
        StopAnimation();
        m_strStatus = text;
        EndWithError(code == STATUS_UNVERIFIED ? kUnverified : kDownloadFailed);
        return Answered();
    case STATUS_ALL_DONE:
        return OnAllDone(text);
    case STATUS_LIST_FAILED:
        return OnListFailed(text);
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

bool CDownLoadDlg::PassedOver(unsigned code) const
{
    // What a transfer that the dialog already shows stopped still says changes nothing.
    return m_bStopShown &&
        (code == STATUS_STOPPED || code == STATUS_READING || code == STATUS_STARTING || code == STATUS_FILE_DONE ||
         code == STATUS_INVALID);
}

LRESULT CDownLoadDlg::OnAllDone(const std::string& text)
{
    StopAnimation();
    // Nothing may be pressed during the hand-over.
    EnableWindow(GetDlgItem(m_hWnd, kButtonId), FALSE);
    m_strStatus = text;
    SetProgress(100);
    m_pWorker = nullptr;
    StartInstaller();
    if (WindowGone())  // the shell may run the page's code too, and the control go
        return ReleaseWorker();
    UpdateData(false);
    return 0;
}

LRESULT CDownLoadDlg::OnListFailed(const std::string& text)
{
    StopAnimation();
    m_strStatus = text;
    m_pWorker = nullptr;
    // A stop the user asked for is shown as stopped, not as a failure.
    if (!m_bStopConfirmed) {
        TraceOut(TraceLine::kListFailed);
        EndWithError(kUnpackFailed);
    }
    return Answered();
}

void CDownLoadDlg::EndWithError(const char* text)
{
    ShowError(text);
    if (WindowGone())
        return;
    SetProgress(0);
    m_pWorker = nullptr;
    Exit();
}

void CDownLoadDlg::StartInstaller()
{
    // Only the file that the engine checked, held open since its first byte
    // so that nobody could change, delete or rename it; without one nothing
    // starts.
    std::string path;
    std::unique_ptr<CLocalFile> installer = m_webGrab->TakeDoneFile(path);
    FinishUpdate();
    if (WindowGone())
        return;
    if (!installer) {
        TraceOut(TraceLine::kNoCheckedInstaller);
        return;
    }
    m_installerProcess.Reset(StartFromItsFolder(path));
    installer.reset();
    if (WindowGone())
        return;
    m_handedOver();
}

void CDownLoadDlg::OnExit()
{
    TraceOut(TraceLine::kDialogOnExit);
    if (m_bStopConfirmed) {
        Exit();
        m_handedOver();
        return;
    }
    ShowProgressNow();
    const int answer = ShowPlayerBox(m_hWnd, kAskStop, MB_YESNO | MB_ICONQUESTION);
    if (LOG_LAST_ERROR_IF(answer == 0) || answer != IDYES || WindowGone())
        return;
    if (m_pWorker) {
        m_webGrab->SetStop(true);
        LOG_LAST_ERROR_IF(!SetTimer(m_hWnd, kStopTimer, kStopGrace, nullptr));
    }
    LOG_IF_WIN32_BOOL_FALSE(SetDlgItemTextA(m_hWnd, kButtonId, kCloseButton));
    m_bStopConfirmed = true;
}

void CDownLoadDlg::Exit()
{
    TraceOut(TraceLine::kDialogExit);
    ShowProgressNow();
    TraceStatusLine();
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
        TraceOut(TraceLine::kUnpackFailed);
        EndWithError(kUnpackFailed);
        return;
    }
    StartInstalledProgram(installDir + kClientExeName);
    Exit();
}

void CDownLoadDlg::TraceStatusLine()
{
    if (m_bStatusTraced || WindowGone())
        return;
    m_bStatusTraced = true;
    // The control's own text: what was painted, not what a report set last.
    char text[kStatusTextSize] = "";
    GetDlgItemTextA(m_hWnd, kStatusId, text, sizeof text);
    TraceOut(TraceLine::kStatusLineAtEnd, text);
}

void CDownLoadDlg::SetStopped()
{
    StopAnimation();
    m_strStatus = kStoppedStatus;
    SetProgress(0);
    m_pWorker = nullptr;
}

void CDownLoadDlg::ShowStopped()
{
    ShowProgressNow();
    SetStopped();
    m_bStopShown = true;
    UpdateData(false);
}

void CDownLoadDlg::ShowError(const char* text)
{
    LOG_LAST_ERROR_IF(ShowPlayerBox(m_hWnd, text, MB_OK | MB_ICONERROR) == 0);
}

LRESULT CDownLoadDlg::ReleaseWorker()
{
    ReplyMessage(0);
    return 0;
}

LRESULT CDownLoadDlg::Answered()
{
    return WindowGone() ? ReleaseWorker() : 0;
}

void CDownLoadDlg::ShowProgressSoon()
{
    const bool timerSet = m_bShowPending;
    m_bShowPending = true;
    if (GetTickCount() - m_shownAt >= kShowInterval)
        ShowProgressNow();
    else if (!timerSet)
        LOG_LAST_ERROR_IF(!SetTimer(m_hWnd, kShowTimer, kShowInterval, nullptr));  // for the last report before a pause
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

void CDownLoadDlg::PlaceAnimation()
{
    // The frames are drawn at their own size, whatever the DPI: scaled they
    // would blur. They are centred on the place that they would cover if
    // they grew with the dialog, which at 100 % is the template's.
    if (m_animationFrame.cx <= 0 || m_animationFrame.cy <= 0)
        return;
    RECT place = {IDC_UPDATE_ANIMATION_X, IDC_UPDATE_ANIMATION_Y, 0, 0};
    MapDialogRect(m_hWnd, &place);
    const int dpi = static_cast<int>(WindowDpi(m_hWnd));
    const int width = m_animationFrame.cx, height = m_animationFrame.cy;
    const int left = place.left + (MulDiv(width, dpi, USER_DEFAULT_SCREEN_DPI) - width) / 2;
    const int top = place.top + (MulDiv(height, dpi, USER_DEFAULT_SCREEN_DPI) - height) / 2;
    LOG_IF_WIN32_BOOL_FALSE(
        SetWindowPos(m_animate.GetSafeHwnd(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE));
}

std::unique_ptr<CDialogBase, CDialogBase::Deleter> CDownLoadDlg::Open(HWND control,
                                                                      const std::function<void()>& handedOver)
{
    std::unique_ptr<CDialogBase, CDialogBase::Deleter> dialog(new CDownLoadDlg(handedOver));
    // Whether the window could be made is not examined: the page stays as it is.
    dialog->Create(control);
    return dialog;
}
