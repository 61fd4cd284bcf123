#include "dialog/DownloadThread.h"

#include <windows.h>

#include <commctrl.h>

#include "framework/sys/Result.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "terminator/ClientTerminator.h"
#include "download/StatusMessage.h"
#include "download/WebGrab.h"

UINT CreateDownloadThread(CWebGrab& engine, HWND animation)
{
    const CTraceSource source(TraceProgram::kUpdateDialog);
    if (KillProcess(engine.GetNotifyWindow(), kClientExeName) < 0) {
        if (HWND dialog = engine.GetNotifyWindow())
            engine.Channel().Send(dialog, STATUS_ABORT, 0, kTextAbort);
        TraceOut(TraceLine::kClientKilled);
        return 0;
    }
    if (animation)
        LOG_LAST_ERROR_IF(!SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)));
    engine.DownloadListAll();
    return 0;
}
