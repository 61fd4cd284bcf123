#include "framework/win/Dialog.h"

#include <vector>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"

void CDataExchange::Text(int controlId, std::string& value) const
{
    HWND control = GetDlgItem(m_dialog, controlId);
    if (!m_save) {
        SetWindowTextA(control, value.c_str());
        return;
    }
    std::vector<char> text(GetWindowTextLengthA(control) + 1);
    GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    value = text.data();
}

void CDataExchange::Control(int controlId, CWindow& control) const
{
    if (!control.GetSafeHwnd())
        control.SubclassWindow(GetDlgItem(m_dialog, controlId));
}

bool CDialogBase::Create(HWND parent)
{
    if (m_hWnd)
        return false;
    HWND dialog = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(m_templateId), parent, &StaticDialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return !LOG_LAST_ERROR_IF(dialog == nullptr);
}

INT_PTR CDialogBase::DoModal(HWND parent)
{
    if (m_hWnd)
        return -1;
    const INT_PTR result = DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(m_templateId), parent, &StaticDialogProc,
                                           reinterpret_cast<LPARAM>(this));
    LOG_LAST_ERROR_IF(result == -1);
    return result;
}

void CDialogBase::UpdateData(bool save)
{
    if (m_hWnd)
        DoDataExchange(CDataExchange(m_hWnd, save));
}

BOOL CDialogBase::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

bool CDialogBase::OnMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

void CDialogBase::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

LRESULT CDialogBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        break;
    }
    LRESULT result = 0;
    if (!OnMessage(message, wParam, lParam, result))
        return FALSE;
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK CDialogBase::StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<CDialogBase*>(FromHandle(hwnd));
    if (!self && message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        self->Attach(hwnd);
    }
    if (!self)
        return FALSE;
    return self->Dispatch(message, wParam, lParam);
}
