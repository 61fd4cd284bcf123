// The animation control of the most recently opened update dialog, which the
// download worker starts once the running client is dealt with. A window
// handle, not an object: a worker that outlives its dialog then only sends
// to a window that is gone.
#pragma once

#include <windows.h>

void SetAnimationWindow(HWND animation);
HWND AnimationWindow();
