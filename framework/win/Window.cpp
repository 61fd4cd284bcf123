#include "framework/win/Window.h"

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"

namespace {

const char kWindowClass[] = "VantorimaWindow";
// Window property that points from a window to its object.
const char kObjectProperty[] = "Vantorima.CWindow";

bool RegisterWindowClass(WNDPROC procedure)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    // Registered once, by the first window of the module.
    return RegisterClassExA(&wc) != 0 || !LOG_LAST_ERROR_IF(GetLastError() != ERROR_CLASS_ALREADY_EXISTS);
}

}  // namespace

CWindow::~CWindow()
{
    if (m_hWnd) {
        // The object is going: the window must not reach it any more.
        HWND hwnd = m_hWnd;
        Detach();
        ::DestroyWindow(hwnd);
    }
}

bool CWindow::CreateEx(DWORD exStyle, const char* title, DWORD style, const RECT& rect, HWND parent, UINT id)
{
    if (m_hWnd || !RegisterWindowClass(&StaticWindowProc))
        return false;
    HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
    HWND hwnd = CreateWindowExA(exStyle, kWindowClass, title, style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, parent, menu, ModuleInstance(), this);
    return !LOG_LAST_ERROR_IF(hwnd == nullptr);
}

bool CWindow::SubclassWindow(HWND hwnd)
{
    if (m_hWnd || !hwnd || FromHandle(hwnd))
        return false;
    Attach(hwnd);
    m_superProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWindowProc)));
    return true;
}

bool CWindow::DestroyWindow()
{
    return m_hWnd && ::DestroyWindow(m_hWnd);
}

CWindow* CWindow::FromHandle(HWND hwnd)
{
    return hwnd ? static_cast<CWindow*>(GetPropA(hwnd, kObjectProperty)) : nullptr;
}

void CWindow::UnregisterWindowClass()
{
    UnregisterClassA(kWindowClass, ModuleInstance());
}

void CWindow::Attach(HWND hwnd)
{
    m_hWnd = hwnd;
    SetPropA(hwnd, kObjectProperty, this);
}

void CWindow::Detach()
{
    if (!m_hWnd)
        return;
    RemovePropA(m_hWnd, kObjectProperty);
    if (m_superProc) {
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        m_superProc = nullptr;
    }
    m_hWnd = nullptr;
}

LRESULT CWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return Default(message, wParam, lParam);
}

LRESULT CWindow::Default(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_superProc)
        return CallWindowProcA(m_superProc, m_hWnd, message, wParam, lParam);
    return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    ++m_handlersRunning;
    try {
        result = WindowProc(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's message dispatch.
        result = 0;
    }
    --m_handlersRunning;
    // Read before PostNcDestroy, which may delete the object.
    const bool deleteNow = m_deleteWhenIdle && m_handlersRunning == 0;
    if (message == WM_NCDESTROY) {
        Detach();
        PostNcDestroy();
    }
    if (deleteNow)
        delete this;
    return result;
}

void CWindow::Deleter::operator()(CWindow* window) const
{
    if (!window)
        return;
    if (window->m_handlersRunning == 0) {
        delete window;
        return;
    }
    // The window goes now, with the boxes it owns; the running handler finds
    // it gone when its box returns.
    window->m_deleteWhenIdle = true;
    window->DestroyWindow();
}

LRESULT CALLBACK CWindow::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWindow* self = FromHandle(hwnd);
    if (!self && message == WM_NCCREATE) {
        self = static_cast<CWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self)
            self->Attach(hwnd);
    }
    if (!self)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->Dispatch(message, wParam, lParam);
}

HWND GetParentOwner(HWND hwnd)
{
    while (hwnd && (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)) {
        HWND parent = GetParent(hwnd);
        if (!parent)
            break;
        hwnd = parent;
    }
    return hwnd;
}

UINT WindowDpi(HWND hwnd)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    // Looked up on each call (a rare one): no static that two threads could set up at once.
    const auto getDpi = ProcAddress<GetDpiForWindowFunction>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
    if (const UINT dpi = getDpi ? getDpi(hwnd) : 0)
        return dpi;
    const HDC dc = GetDC(hwnd);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc)
        ReleaseDC(hwnd, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

void CenterWindow(HWND hwnd)
{
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT over = area;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &over);
    RECT rect;
    GetWindowRect(hwnd, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    int x = (over.left + over.right - width) / 2, y = (over.top + over.bottom - height) / 2;
    if (x + width > area.right)
        x = area.right - width;
    if (y + height > area.bottom)
        y = area.bottom - height;
    x = x < area.left ? area.left : x;
    y = y < area.top ? area.top : y;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
