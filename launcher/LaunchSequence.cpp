#include "launcher/LaunchSequence.h"

#include <shellapi.h>

#include "launcher/LaunchArguments.h"
#include "launcher/SettingsStore.h"
#include "support/Trace.h"
#include "updater/CompletionMessage.h"
#include "updater/DownLoadDlg.h"

void CLaunchSequence::Launch(CWindow& control)
{
    std::string strPath;
    m_store.ReadWorkDir(strPath);

    TraceOut("id : %s", m_strID.c_str());
    // The password itself never goes to the trace.
    TraceOut("passwd : <%u bytes>", static_cast<unsigned>(m_strPass.size()));
    TraceOut("m_key : %s", m_key.c_str());
    TraceOut("m_strServer : %s", m_strServer.c_str());

    if (!m_strServer.empty())
        m_store.WriteSetting(m_strServer, "LoginSERV");
    m_store.WriteSetting(kHttpPathKorea, "HttpPathKorea");

    const LaunchArguments launch = BuildLaunchArguments(m_strID, m_strPass, m_key);
    m_store.WriteSetting(launch.arguments, "SaveStart");

    TraceOut("strPath : %s", strPath.c_str());
    if (strPath.empty()) {
        OpenUpdateDialog(control);
        return;
    }
    strPath += "\\Marovent.exe";
    ShellExecuteA(nullptr, nullptr, strPath.c_str(), launch.passToClient ? launch.arguments.c_str() : nullptr,
                  nullptr, SW_SHOWNORMAL);
    PostCompletion(control.GetSafeHwnd());
}

void CLaunchSequence::OpenUpdateDialog(CWindow& control)
{
    auto* dialog = new CDownLoadDlg(&control);
    m_downLoaddlg.reset(dialog);
    // Whether the window could be made is not examined: the page stays as it is.
    dialog->Create(control.GetSafeHwnd());
}

void CLaunchSequence::OnNotifyChild(CWindow& control)
{
    TraceOut("CPelloraCtrl::OnNotifyChild");
    if (m_downLoaddlg) {
        TraceOut("delete m_downLoaddlg");
        m_downLoaddlg.reset();
    }
    if (!GetParentOwner(control.GetSafeHwnd())) {
        TraceOut("GetParentOwner no");
        return;
    }
    TraceOut("GetParentOwner");
    // Minimised first, then destroyed with all its children, this control's
    // window among them. Looked up afresh each time: the first call may change
    // the window tree.
    CloseWindow(GetParentOwner(control.GetSafeHwnd()));
    ::DestroyWindow(GetParentOwner(control.GetSafeHwnd()));
}
