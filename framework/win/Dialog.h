// A dialog from a template of this module, with a C++ object behind it.
//
// Modal (DoModal) or modeless (Create; delete with CWindow::Deleter).
// Messages reach OnMessage; Enter and Esc reach OnOK and OnCancel;
// DoDataExchange moves values between the dialog's controls and the object's
// members.
#pragma once

#include <string>

#include "framework/win/Window.h"

// One transfer between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(HWND dialog, bool save) : m_dialog(dialog), m_save(save) {}
    // Control text <-> value.
    void Text(int controlId, std::string& value) const;
    // Routes the control's messages through `control` (once).
    void Control(int controlId, CWindow& control) const;
    bool Saving() const { return m_save; }

private:
    HWND m_dialog;
    bool m_save;
};

class CDialogBase : public CWindow {
public:
    explicit CDialogBase(UINT templateId) : m_templateId(templateId) {}

    bool Create(HWND parent);
    INT_PTR DoModal(HWND parent);
    // Controls -> members (save) or members -> controls.
    void UpdateData(bool save);

protected:
    // Binds the controls and shows the members; TRUE to let the system set
    // the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void DoDataExchange(const CDataExchange&) {}
    // Any other message: true when handled, with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Ends a modal dialog; hides a modeless one.
    void EndDialog(int result);

    // The dialog procedure: TRUE when the message is handled.
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) final;

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    const UINT m_templateId;
};
