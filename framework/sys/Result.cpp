#include "framework/sys/Result.h"

#include "support/Trace.h"
#include "support/TraceLines.h"

void result::TraceHr(const char* file, int line, const char* expression, HRESULT hr)
{
    const DWORD lastError = GetLastError();
    TraceOut(TraceLine::kCallFailed, file, line, expression, static_cast<unsigned long>(hr));
    SetLastError(lastError);
}

void result::TraceWin32(const char* file, int line, const char* expression, DWORD error)
{
    const DWORD lastError = GetLastError();
    TraceOut(TraceLine::kCallFailedCode, file, line, expression, static_cast<unsigned long>(error));
    SetLastError(lastError);
}

void result::TraceException(const char* file, int line, const char* function, const char* what, HRESULT hr)
{
    const DWORD lastError = GetLastError();
    TraceOut(TraceLine::kCaught, file, line, function, what, static_cast<unsigned long>(hr));
    SetLastError(lastError);
}
