// What the control does when its window is created: hand the user's settings
// to the desktop client, then start the client or the update dialog; and how
// the page ends once everything is handed over.
//
// The control holds one of these. It tells the control "handed over" through
// a callback, and the control answers by posting its completion message to
// itself, whose handler calls OnNotifyChild: so neither this part nor the
// update dialog knows the control's message or its class.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "framework/win/Dialog.h"
#include "launch/SettingsStore.h"

// The page's four properties, the user's sign-in data.
struct LaunchProperties {
    std::string strID;
    std::string strPass;
    std::string key;
    std::string strServer;
};

class CLaunchSequence {
public:
    using DialogPtr = std::unique_ptr<CDialogBase, CDialogBase::Deleter>;
    // Opens the update dialog over the control's window; the dialog calls
    // handedOver when it is done.
    using OpenUpdater = std::function<DialogPtr(HWND control, const std::function<void()>& handedOver)>;

    // handedOver runs when the client, or its installer, has been asked to
    // start, or the user closed a stopped update. It may run inside Launch
    // and inside the dialog's handlers: it must only post.
    CLaunchSequence(std::function<void()> handedOver, OpenUpdater openUpdater);

    // Runs once from the control window's WM_CREATE, after the window exists.
    // False only when the installed client could not be started (traced; the
    // page goes on as after a start).
    bool Launch(HWND control, const LaunchProperties& properties);
    // The completion message's handler: deletes the update dialog, then
    // minimises and destroys the host's top-level window.
    void OnNotifyChild(HWND control);
    // Its first half, for a launcher with no host window to end: deletes the
    // update dialog, if one is open.
    void CloseUpdater();

private:
    const std::function<void()> m_handedOver;
    const OpenUpdater m_openUpdater;
    CSettingsStore m_store;
    // The update dialog the control owns, if one is open. It goes with the
    // control at the latest, stopping its download safely; when that happens
    // inside one of its own boxes, the object waits for the box's handler.
    DialogPtr m_downLoaddlg;
};
