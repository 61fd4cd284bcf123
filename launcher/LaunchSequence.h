// What the control does when its window is created: hand the user's settings
// to the desktop client, then start the client or the update dialog.
#pragma once

#include <memory>
#include <string>

#include "framework/Dialog.h"

class CSettingsStore;

class CLaunchSequence {
public:
    explicit CLaunchSequence(CSettingsStore& store) : m_store(store) {}
    virtual ~CLaunchSequence() = default;

    // Runs once from the control window's WM_CREATE, after the window exists.
    void Launch(CWindow& control);
    // The completion message: deletes the update dialog, then minimises and
    // destroys the host's top-level window.
    void OnNotifyChild(CWindow& control);

protected:
    // The road for a client that is not installed: opens the update dialog
    // into m_downLoaddlg.
    virtual void OpenUpdateDialog(CWindow& control);

    // The page's properties; read once by Launch.
    std::string m_strID;
    std::string m_strPass;
    std::string m_key;
    std::string m_strServer;
    // The update dialog this control owns, if one is open. It goes with the
    // control at the latest, stopping its download safely; when that happens
    // inside one of its own boxes, the object waits for the box's handler.
    std::unique_ptr<CDialogBase, CDialogBase::Deleter> m_downLoaddlg;

private:
    CSettingsStore& m_store;
};
