#include "framework/sys/WorkerThread.h"

#include <memory>

#include "framework/sys/Module.h"
#include "framework/sys/Result.h"

namespace {

struct StartContext {
    std::function<void()> body;
    HMODULE module;
};

DWORD WINAPI ThreadMain(void* parameter)
{
    std::unique_ptr<StartContext> context(static_cast<StartContext*>(parameter));
    try {
        context->body();
    } catch (...) {
        // A worker's failure ends the worker, never the host.
    }
    HMODULE module = context->module;
    context.reset();
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

bool CWorkerThread::Start(std::function<void()> body)
{
    if (Running())
        return false;
    auto context = std::make_unique<StartContext>();
    context->body = std::move(body);
    // The thread's own reference to this module.
    if (LOG_LAST_ERROR_IF(!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                              reinterpret_cast<LPCSTR>(&ThreadMain), &context->module)))
        return false;
    HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, context.get(), 0, nullptr);
    if (LOG_LAST_ERROR_IF(!thread)) {
        FreeLibrary(context->module);
        return false;
    }
    context.release();
    m_thread.Reset(thread);
    return true;
}

bool CWorkerThread::Running() const
{
    return m_thread && WaitForSingleObject(m_thread.Get(), 0) == WAIT_TIMEOUT;
}

bool CWorkerThread::Wait(DWORD timeoutMs)
{
    if (!m_thread)
        return true;
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        HANDLE handle = m_thread.Get();
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return true;
        if (LOG_LAST_ERROR_IF(result == WAIT_FAILED) || result != WAIT_OBJECT_0 + 1)
            return false;
        // A message sent by the worker: handle it, or both would wait forever.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
