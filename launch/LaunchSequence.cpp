#include "launch/LaunchSequence.h"

#include <shellapi.h>

#include <utility>

#include "framework/sys/Result.h"
#include "launch/LaunchArguments.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

CLaunchSequence::CLaunchSequence(std::function<void()> handedOver, OpenUpdater openUpdater)
    : m_handedOver(std::move(handedOver)), m_openUpdater(std::move(openUpdater))
{
}

bool CLaunchSequence::Launch(HWND control, const LaunchProperties& properties)
{
    std::string strPath;
    m_store.ReadWorkDir(strPath);

    TraceOut(TraceLine::kId, properties.strID.c_str());
    // The password itself never goes to the trace.
    TraceOut(TraceLine::kPassword, static_cast<unsigned>(properties.strPass.size()));
    TraceOut(TraceLine::kKey, static_cast<unsigned>(properties.key.size()));
    TraceOut(TraceLine::kServer, properties.strServer.c_str());

    if (!properties.strServer.empty())
        m_store.WriteSetting(properties.strServer, "LoginSERV");
    m_store.WriteSetting(kHttpPathKorea, "HttpPathKorea");

    const LaunchArguments launch = BuildLaunchArguments(properties.strID, properties.strPass, properties.key);
    m_store.WriteSetting(launch.arguments, "SaveStart");

    TraceOut(TraceLine::kClientPath, strPath.c_str());
    if (strPath.empty()) {
        m_downLoaddlg = m_openUpdater(control, m_handedOver);
        return true;
    }
    // The client runs in its own directory, not the browser's current one.
    const std::string workDir = strPath;
    strPath += "\\Marovent.exe";
    // A client that does not start is only traced: the page goes on as after a start.
    const bool started = LOG_IF_SHELL_EXECUTE_FAILED(
        ShellExecuteA(nullptr, nullptr, strPath.c_str(), launch.passToClient ? launch.arguments.c_str() : nullptr,
                      workDir.c_str(), SW_SHOWNORMAL));
    m_handedOver();
    return started;
}

void CLaunchSequence::CloseUpdater()
{
    if (m_downLoaddlg) {
        TraceOut(TraceLine::kDialogDeleted);
        m_downLoaddlg.reset();
    }
}

void CLaunchSequence::OnNotifyChild(HWND control)
{
    TraceOut(TraceLine::kNotifyChild);
    CloseUpdater();
    if (!GetParentOwner(control)) {
        TraceOut(TraceLine::kNoParentOwner);
        return;
    }
    TraceOut(TraceLine::kParentOwner);
    // Minimised first, then destroyed with all its children, the control's
    // window among them. Looked up afresh each time: the first call may change
    // the window tree.
    LOG_IF_WIN32_BOOL_FALSE(CloseWindow(GetParentOwner(control)));
    LOG_IF_WIN32_BOOL_FALSE(::DestroyWindow(GetParentOwner(control)));
}
