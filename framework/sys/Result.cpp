#include "framework/sys/Result.h"

#include "support/Trace.h"

void result::TraceHr(const char* file, int line, const char* expression, HRESULT hr)
{
    const DWORD lastError = GetLastError();
    TraceOut("%s(%d): %s failed: 0x%08lX", file, line, expression, static_cast<unsigned long>(hr));
    SetLastError(lastError);
}

void result::TraceWin32(const char* file, int line, const char* expression, DWORD error)
{
    const DWORD lastError = GetLastError();
    TraceOut("%s(%d): %s failed: error %lu", file, line, expression, static_cast<unsigned long>(error));
    SetLastError(lastError);
}

void result::TraceException(const char* file, int line, const char* function, const char* what, HRESULT hr)
{
    const DWORD lastError = GetLastError();
    TraceOut("%s(%d): %s: %s: 0x%08lX", file, line, function, what, static_cast<unsigned long>(hr));
    SetLastError(lastError);
}
