// A C++ object behind a window: its messages go to the virtual WindowProc.
//
// The object either creates its window (of the framework's own window class)
// or takes over an existing one, such as a control of a dialog. The object
// outlives its window or destroys it: deleting the object destroys a window
// that still exists.
#pragma once

#include <windows.h>

class CWindow {
public:
    CWindow() = default;
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Deletes a window object made with new. A message box or a sent message
    // inside one of its handlers lets other code run, and that code may be
    // what deletes the object: then only its window goes at once, and the
    // object when the last of its handlers has returned.
    struct Deleter {
        void operator()(CWindow* window) const;
    };

    // Creates a window of the framework's window class behind this object.
    bool CreateEx(DWORD exStyle, const char* title, DWORD style, const RECT& rect, HWND parent, UINT id = 0);
    // Routes the messages of an existing window through this object.
    bool SubclassWindow(HWND hwnd);
    bool DestroyWindow();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }

    // The object behind a window of this module, or null.
    static CWindow* FromHandle(HWND hwnd);
    // The module calls this when it unloads, so no class points into freed code.
    static void UnregisterWindowClass();

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // What the window would have done without this object.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); the object may delete itself here.
    virtual void PostNcDestroy() {}

    // Binds this object to hwnd; for derived classes that create windows of
    // their own kind (dialogs).
    void Attach(HWND hwnd);
    void Detach();
    // Runs one message through WindowProc, for every kind of window: nothing
    // unwinds into the system, the window's end reaches PostNcDestroy, and a
    // deletion waits for the handlers on the stack.
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    WNDPROC m_superProc = nullptr;
    // Handlers of this object on the stack, and a deletion that waits for them.
    int m_handlersRunning = 0;
    bool m_deleteWhenIdle = false;
};

// The dots per inch that hwnd is drawn at: its monitor's where the thread is
// per-monitor aware (GetDpiForWindow, looked up at run time: Windows before
// 10 lacks it), else the screen's (LOGPIXELSY). 96 is 100 %.
UINT WindowDpi(HWND hwnd);

// Centres a top-level window over its owner (the screen's work area when it
// has none or the owner is minimised), kept within the work area.
void CenterWindow(HWND hwnd);

// The window that owns hwnd's top-level chain: go up from parent to parent for
// as long as the window is a child window and has a parent. Null only for a
// null hwnd.
HWND GetParentOwner(HWND hwnd);
