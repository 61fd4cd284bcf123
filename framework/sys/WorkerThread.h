// A worker thread that keeps the module loaded for as long as it runs.
//
// The thread holds its own reference to this module and drops it only as it
// exits (FreeLibraryAndExitThread), so a host that unloads the module while
// a worker still runs never pulls the code from under it.
#pragma once

#include <windows.h>

#include <functional>

#include "framework/sys/UniqueHandle.h"

class CWorkerThread {
public:
    CWorkerThread() = default;
    ~CWorkerThread() = default;  // does not wait; call Wait first where needed
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Runs body on a new thread. False when no thread could be started.
    bool Start(std::function<void()> body);
    // True when the thread has ended within timeoutMs (or never started).
    // Messages sent to this thread by others are handled while it waits.
    bool Wait(DWORD timeoutMs);
    bool Running() const;

private:
    CKernelHandle m_thread;
};
