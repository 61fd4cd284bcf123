#include "updater/DownLoadDlg.h"

#include <shellapi.h>

#include "BuildConfig.h"
#include "support/Trace.h"
#include "updater/AnimationReference.h"
#include "updater/ClientTerminator.h"
#include "updater/CompletionMessage.h"
#include "updater/DownloadThread.h"
#include "updater/InstallerSignature.h"
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

// The client by its bare name: the shell's search decides what starts. When
// it finds nothing (no client installed yet) that is no news for the user,
// and a shell error box here would hold up the installer's start.
void OpenClientByName(const std::string& name)
{
    SHELLEXECUTEINFOA open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_FLAG_NO_UI;
    open.lpFile = name.c_str();
    open.nShow = SW_SHOWNORMAL;
    ShellExecuteExA(&open);
}

}  // namespace

std::string CDownLoadDlg::InstallerUrl()
{
    return std::string(VANTORIMA_UPDATE_ORIGIN "/service/") + kInstallerName;
}

CDownLoadDlg::CDownLoadDlg(CWindow* parentCtrl)
    : CDialogBase(kTemplateId),
      m_pParentCtrl(parentCtrl),
      m_strInstallerURL(InstallerUrl()),
      m_webGrab(std::make_shared<CWebGrab>())
{
    // The template's progress bar and animation are common controls; a host
    // need not have registered them.
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&classes);
}

CDownLoadDlg::~CDownLoadDlg()
{
    if (AnimationWindow() == m_animate.GetSafeHwnd())
        SetAnimationWindow(nullptr);
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
    SetAnimationWindow(m_animate.GetSafeHwnd());

    char temp[1024];
    DWORD length = GetTempPathA(sizeof temp, temp);
    m_strTempPath.assign(temp, length < sizeof temp ? length : 0);

    TraceOut("link :%s", m_strInstallerURL.c_str());
    m_webGrab->AddDownload(m_strInstallerURL);
    m_webGrab->Initialize(m_hWnd, kAgent, m_strTempPath);
    m_webGrab->SetFileCheck(kInstallerCheck);
    std::shared_ptr<CWebGrab> engine = m_webGrab;
    if (m_workerThread.Start([engine] { CreateDownloadThread(engine.get()); }))
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
    return false;
}

LRESULT CDownLoadDlg::OnStatus(WPARAM wParam, LPARAM lParam)
{
    const unsigned code = StatusCodeOf(static_cast<uint32_t>(wParam));
    const int percent = static_cast<int>(StatusPercentOf(static_cast<uint32_t>(wParam)));
    const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
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
        SetProgress(percent);
        m_strStatus = text;
        break;
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
        // The directory as the system gives it ends in a backslash; the engine
        // stored the file under directory + "\" + name, and so is it opened.
        m_strTempPath += "\\";
        m_strTempPath += kInstallerName;
        OpenThroughShell(m_strTempPath);
        PostCompletion(m_pParentCtrl->GetSafeHwnd());
        break;
    case STATUS_LIST_FAILED:
        StopAnimation();
        m_strStatus = text;
        m_pWorker = nullptr;
        if (!m_bStopConfirmed) {
            TraceOut("test1");
            ShowError(kUnpackFailed);
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
        PostCompletion(m_pParentCtrl->GetSafeHwnd());
        return;
    }
    if (MessageBoxA(m_hWnd, kAskStop, kMessageCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    if (m_pWorker)
        m_webGrab->SetStop(1);
    SetDlgItemTextA(m_hWnd, kButtonId, kCloseButton);
    m_bStopConfirmed = 1;
}

void CDownLoadDlg::Exit()
{
    TraceOut("CDownLoadDlg::Exit");
    m_animate.Close();
    EndDialog(IDCANCEL);
}

void CDownLoadDlg::FinishUpdate()
{
    // Nothing sets either directory yet: both are empty.
    const std::string downloadDir, installDir;
    if (!RunUnpackPass(m_unpackList, downloadDir, installDir)) {
        TraceOut("test3");
        ShowError(kUnpackFailed);
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
