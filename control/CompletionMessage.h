// The control's completion message: the control posts it to itself once its
// launch has handed everything over, and its handler then deletes the update
// dialog and ends the host's top-level window.
#pragma once

#include <windows.h>

#include "framework/sys/Result.h"

// WM_USER + 1001, a plain unregistered number; wParam 1, lParam 0.
constexpr UINT kCompletionMessage = 2025;

// Always posted, never sent: the control handles it from its message loop,
// after whatever reported the hand-over has returned.
inline void PostCompletion(HWND control)
{
    LOG_LAST_ERROR_IF(!::PostMessageA(control, kCompletionMessage, 1, 0));
}
