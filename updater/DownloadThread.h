// The update dialog's worker: closes running clients, then downloads.
#pragma once

#include <windows.h>

// Runs on the worker thread with the dialog's CWebGrab: KillProcess first;
// when the user declines (or closing failed) reports STATUS_ABORT "User Stop!"
// and downloads nothing; otherwise starts the animation and downloads the
// queue. Returns 0 on every road.
UINT CreateDownloadThread(void* webGrab);
