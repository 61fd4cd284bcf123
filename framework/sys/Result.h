// Failures that explain themselves: one idiom for HRESULTs and Win32 errors.
//
// On failure each macro writes one trace line, "<file>(<line>): <expression>
// failed: <code>", and returns (RETURN_...) or hands the outcome on (LOG_...),
// so a failure on a user's machine names its call and place. Nothing is
// written when tracing is off (support/Trace.h). The Win32 forms keep the
// thread's last error as the failed call left it.
//
//   RETURN_IF_FAILED(hr)            an HRESULT expression; returns it
//   RETURN_IF_WIN32_ERROR(error)    a LONG/DWORD error code; returns it as HRESULT
//   RETURN_LAST_ERROR_IF(condition) a call reported failure; returns GetLastError()
//   RETURN_LAST_ERROR_IF_NULL(p)    as HRESULT
//   RETURN_HR_IF(hr, condition)     returns hr (argument and state checks)
//   RETURN_HR_IF_NULL(hr, p)
//   LOG_IF_FAILED(hr)               traces and gives the HRESULT
//   LOG_IF_WIN32_ERROR(error)       traces and gives the error code
//   LOG_LAST_ERROR_IF(condition)    traces and gives the condition
//
// And ExceptionBoundary, which keeps C++ exceptions from crossing a COM method.
#pragma once

#include <windows.h>

#include <new>

namespace result {

// Writes the failure's trace line: an HRESULT in hex, a Win32 error in
// decimal ("error 5"). The thread's last error stays as it was.
void TraceHr(const char* file, int line, const char* expression, HRESULT hr);
void TraceWin32(const char* file, int line, const char* expression, DWORD error);

inline HRESULT LogHr(const char* file, int line, const char* expression, HRESULT hr)
{
    if (FAILED(hr))
        TraceHr(file, line, expression, hr);
    return hr;
}

template <typename Error>
Error LogWin32(const char* file, int line, const char* expression, Error error)
{
    if (error != 0)
        TraceWin32(file, line, expression, static_cast<DWORD>(error));
    return error;
}

// The last error as an HRESULT; E_FAIL for a call that failed without one.
inline HRESULT LastErrorHr(const char* file, int line, const char* expression)
{
    const DWORD error = GetLastError();
    TraceWin32(file, line, expression, error);
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

inline bool LogLastErrorIf(const char* file, int line, const char* expression, bool condition)
{
    if (condition)
        TraceWin32(file, line, expression, GetLastError());
    return condition;
}

// The file's name without its folders.
constexpr const char* BaseName(const char* path)
{
    const char* name = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == '\\')
            name = c + 1;
    }
    return name;
}

}  // namespace result

#define RESULT_FILE_ result::BaseName(__FILE__)

#define LOG_IF_FAILED(expr) result::LogHr(RESULT_FILE_, __LINE__, #expr, (expr))
#define LOG_IF_WIN32_ERROR(expr) result::LogWin32(RESULT_FILE_, __LINE__, #expr, (expr))
#define LOG_LAST_ERROR_IF(condition) result::LogLastErrorIf(RESULT_FILE_, __LINE__, #condition, (condition))

#define RETURN_IF_FAILED(expr)                                                                                         \
    do {                                                                                                               \
        const HRESULT hrFailed_ = (expr);                                                                              \
        if (FAILED(hrFailed_))                                                                                         \
            return result::LogHr(RESULT_FILE_, __LINE__, #expr, hrFailed_);                                            \
    } while (0)

#define RETURN_IF_WIN32_ERROR(expr)                                                                                    \
    do {                                                                                                               \
        const auto errorFailed_ = (expr);                                                                              \
        if (errorFailed_ != 0)                                                                                         \
            return HRESULT_FROM_WIN32(result::LogWin32(RESULT_FILE_, __LINE__, #expr, errorFailed_));                  \
    } while (0)

#define RETURN_LAST_ERROR_IF(condition)                                                                                \
    do {                                                                                                               \
        if (condition)                                                                                                 \
            return result::LastErrorHr(RESULT_FILE_, __LINE__, #condition);                                            \
    } while (0)

#define RETURN_LAST_ERROR_IF_NULL(pointer) RETURN_LAST_ERROR_IF((pointer) == nullptr)

#define RETURN_HR_IF(hr, condition)                                                                                    \
    do {                                                                                                               \
        if (condition)                                                                                                 \
            return result::LogHr(RESULT_FILE_, __LINE__, #condition, (hr));                                            \
    } while (0)

#define RETURN_HR_IF_NULL(hr, pointer) RETURN_HR_IF(hr, (pointer) == nullptr)

// Runs body (returning HRESULT) and turns any escaping exception into a
// result, traced where it was caught.
template <typename Body>
HRESULT ExceptionBoundary(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return result::LogHr(RESULT_FILE_, __LINE__, "exception: out of memory", E_OUTOFMEMORY);
    } catch (...) {
        return result::LogHr(RESULT_FILE_, __LINE__, "exception", E_UNEXPECTED);
    }
}
