// Runs the launch sequence in a page-like window, as the control will inside a
// browser: a top-level "page" with the launching child window in it.
//
//   LaunchDemo.exe <id> <password> <key> <server>
//
// Exits when the page window has ended (0), or after 30 s without that (1).
#include <windows.h>

#include <string>

#include "launcher/LaunchSequence.h"
#include "launcher/SettingsStore.h"
#include "updater/CompletionMessage.h"

namespace {

class CDemoControl : public CWindow, public CLaunchSequence {
public:
    CDemoControl(CSettingsStore& store, char** properties) : CLaunchSequence(store)
    {
        m_strID = properties[0];
        m_strPass = properties[1];
        m_key = properties[2];
        m_strServer = properties[3];
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_CREATE) {
            Launch(*this);
            return 0;
        }
        if (message == kCompletionMessage) {
            OnNotifyChild(*this);
            return 0;
        }
        return CWindow::WindowProc(message, wParam, lParam);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        fputs("usage: LaunchDemo <id> <password> <key> <server>\n", stderr);
        return 2;
    }
    CSettingsStore store;
    CWindow page;
    CDemoControl control(store, argv + 1);
    RECT pageRect = {100, 100, 740, 580};
    RECT controlRect = {20, 20, 320, 120};
    if (!page.CreateEx(0, "Vantorima demo page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, pageRect, nullptr) ||
        !control.CreateEx(0, "", WS_CHILD | WS_VISIBLE, controlRect, page.GetSafeHwnd(), 1))
        return 1;
    const DWORD start = GetTickCount();
    while (page.GetSafeHwnd() && GetTickCount() - start < 30000) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return page.GetSafeHwnd() ? 1 : 0;
}
