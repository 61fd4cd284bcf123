// The control's About box and its property page in Wine's property frame,
// each captured as a screenshot under build/artifacts/.
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "ControlTestSupport.h"
#include "WineTestSupport.h"

using namespace control_test;
using namespace wine_test;

namespace {

std::string Text(HWND hwnd)
{
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

struct WindowSearch {
    std::function<bool(HWND)> match;
    HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    if (search->match(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level dialog of the given thread that satisfies match.
HWND FindDialog(DWORD thread, std::function<bool(HWND)> match)
{
    WindowSearch search;
    search.match = [&](HWND hwnd) {
        char name[32] = {};
        GetClassNameA(hwnd, name, sizeof name);
        return std::string(name) == "#32770" && IsWindowVisible(hwnd) && match(hwnd);
    };
    EnumThreadWindows(thread, &MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool HasChildText(HWND parent, const std::string& text)
{
    WindowSearch search;
    search.match = [&](HWND child) { return Text(child) == text; };
    EnumChildWindows(parent, &MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
}

// Waits on a thread of its own for a dialog of the test thread, lets check
// look at it, takes the screenshot, then closes it with close.
class CDialogWatcher {
public:
    CDialogWatcher(const std::string& shot, std::function<bool(HWND)> match, std::function<bool(HWND)> check,
                   std::function<void(HWND)> close)
        : m_thread([=] {
            const DWORD start = GetTickCount();
            HWND dialog = nullptr;
            while (!dialog && GetTickCount() - start < 20000) {
                dialog = FindDialog(m_owner, match);
                if (!dialog)
                    Sleep(50);
            }
            if (!dialog) {
                // Whatever did open must not leave the test waiting forever.
                if (HWND other = FindDialog(m_owner, [](HWND) { return true; }))
                    PostMessageA(other, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            Sleep(300);  // let it paint
            m_checked = check(dialog);
            m_shot = Screenshot(shot);
            m_closing = true;
            close(dialog);
            m_closed = true;
        })
    {
    }
    ~CDialogWatcher()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void Join() { m_thread.join(); }
    // The watcher began to close the dialog: a modal call that returns sees
    // this, though close() itself may not have returned yet.
    bool Closing() const { return m_closing; }
    bool Closed() const { return m_closed; }
    bool Checked() const { return m_checked; }
    bool Shot() const { return m_shot; }

private:
    DWORD m_owner = GetCurrentThreadId();
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_checked{false};
    std::atomic<bool> m_shot{false};
    std::thread m_thread;
};

}  // namespace

TEST(ControlDialogs, AboutBoxIsModalAndCanBeShownAgain)
{
    COleApartment apartment;
    COcxModule module;
    CInterfacePtr<IDispatch> control;
    ASSERT_EQ(module.CreateControl(IID_IDispatch, control.PutVoid()), S_OK);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        CDialogWatcher watcher(
            round == 0 ? "about-box" : "about-box-again",
            [](HWND dialog) { return Text(dialog) == "About Vantorima Control"; },
            [](HWND dialog) {
                HWND ok = GetDlgItem(dialog, IDOK);
                return ok && Text(ok) == "OK" && HasChildText(dialog, "Vantorima Control, Version 1.0") &&
                    !GetWindow(dialog, GW_OWNER);
            },
            [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); });
        // Returns only once the box is closed.
        EXPECT_EQ(CallMethod(control.Get(), DISPID_ABOUTBOX), S_OK);
        EXPECT_TRUE(watcher.Closing());
        watcher.Join();
        EXPECT_TRUE(watcher.Closed());
        EXPECT_TRUE(watcher.Checked());
        EXPECT_TRUE(watcher.Shot());
    }
}

TEST(ControlDialogs, PropertyPageShowsInThePropertyFrame)
{
    COleApartment apartment;
    COcxModule module;
    // The frame creates the page from its registration.
    ASSERT_EQ(module.Register(), S_OK);
    CInterfacePtr<IOleObject> control;
    ASSERT_EQ(module.CreateControl(IID_IOleObject, control.PutVoid()), S_OK);
    HWND owner = CreateHostWindow("page with a control");
    const std::string note =
        "The control's properties come from the page that embeds it; there is nothing to set here.";
    CDialogWatcher watcher(
        "property-page", [&](HWND frame) { return FindWindowExA(frame, nullptr, WC_TABCONTROLA, nullptr) != nullptr; },
        [&](HWND frame) {
            HWND tab = FindWindowExA(frame, nullptr, WC_TABCONTROLA, nullptr);
            char caption[64] = {};
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = caption;
            item.cchTextMax = sizeof caption;
            SendMessageA(tab, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            return std::string(caption) == "General" && HasChildText(frame, note);
        },
        [](HWND frame) { PostMessageA(frame, WM_COMMAND, IDCANCEL, 0); });
    // The properties verb shows the frame modally; no host site offers its own.
    EXPECT_EQ(control->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, owner, nullptr), S_OK);
    watcher.Join();
    EXPECT_TRUE(watcher.Closed());
    EXPECT_TRUE(watcher.Checked());
    EXPECT_TRUE(watcher.Shot());
    DestroyWindow(owner);
    control.Reset();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
    EXPECT_EQ(module.Unregister(), S_OK);
}
