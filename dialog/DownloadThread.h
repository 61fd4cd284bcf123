// The update dialog's worker: closes running clients, then downloads.
#pragma once

#include <windows.h>

class CWebGrab;

// Runs on the worker thread with the dialog's CWebGrab and its animation
// control: KillProcess first; when the user declines (or closing failed)
// reports STATUS_ABORT "User Stop!" and downloads nothing; otherwise starts
// the animation and downloads the queue. Returns 0 on every road. Both
// windows are handles, not objects: a worker that outlives its dialog then
// only sends to windows that are gone.
UINT CreateDownloadThread(CWebGrab& engine, HWND animation);
