// The control's About box (dialog template 1), run modally.
#pragma once

#include <windows.h>

class CAboutBox {
public:
    // Returns when the user closes the box; the owner may be null.
    INT_PTR DoModal(HWND owner = nullptr);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
