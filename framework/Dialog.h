// A dialog from a template of this module, with a C++ object behind it.
//
// Modal (DoModal) or modeless (Create). Messages reach OnMessage; Enter and
// Esc reach OnOK and OnCancel; DoDataExchange moves values between the
// dialog's controls and the object's members.
#pragma once

#include <string>

#include "framework/Window.h"

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

    // Deletes a dialog made with new. A message box or a sent message inside
    // one of its handlers lets other code run, and that code may be what
    // deletes the dialog: then only its window goes at once, and the object
    // when the last of its handlers has returned.
    struct Deleter {
        void operator()(CDialogBase* dialog) const;
    };

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

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);

    const UINT m_templateId;
    // Handlers of this dialog on the stack, and a deletion that waits for them.
    int m_handlersRunning = 0;
    bool m_deleteWhenIdle = false;
};
