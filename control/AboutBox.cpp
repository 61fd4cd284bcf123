#include "control/AboutBox.h"

#include "framework/Module.h"
#include "res/Resource.h"

INT_PTR CAboutBox::DoModal(HWND owner)
{
    return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_ABOUTBOX_VANTORIMA), owner, &DialogProc, 0);
}

INT_PTR CALLBACK CAboutBox::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}
