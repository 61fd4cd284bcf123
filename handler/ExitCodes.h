// The launcher's exit codes: what its starter (the shell, an installer, the
// tests) reads of how it ended.
#pragma once

enum HandlerExit : int {
    kExitLaunched = 0,  // the client, or its installer, was asked to start
    kExitRefused = 1,  // the link was refused: nothing written, nothing started
    kExitUpdateFailed = 2,  // the update dialog ended on a failure (it showed why)
    kExitUpdateStopped = 3,  // the user stopped the update and closed the dialog, or declined another account
    kExitRegistration = 4,  // /install, /uninstall, /register or /unregister failed, or a bad switch
};
