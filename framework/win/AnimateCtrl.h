// An animation control (SysAnimate32) of a dialog: a few messages.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win/Window.h"

class CAnimateCtrl : public CWindow {
public:
    // Opens an AVI resource of the module that created the control.
    bool Open(UINT resourceId) { return SendMessage(ACM_OPENA, 0, resourceId) != 0; }
    // Closes the clip.
    void Close() { SendMessage(ACM_OPENA, 0, 0); }
    bool Play(UINT from = 0, UINT to = 0xFFFF, int repeat = -1)
    {
        return SendMessage(ACM_PLAY, static_cast<WPARAM>(repeat), MAKELPARAM(from, to)) != 0;
    }
    void Stop() { SendMessage(ACM_STOP); }
};
