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
// For BOOL-returning calls (a FALSE return means "see GetLastError()"):
//   RETURN_IF_WIN32_BOOL_FALSE(ok)  returns GetLastError() as HRESULT
//   LOG_IF_WIN32_BOOL_FALSE(ok)     traces and gives the call's success as bool
//
// For ShellExecute, whose result is a code above 32 when the start worked:
//   LOG_IF_SHELL_EXECUTE_FAILED(instance) traces and gives the start's success
//
// For functions whose result is a DWORD error code (ERROR_SUCCESS or not):
//   RETURN_IF_WIN32_CODE(error)        a non-zero code; returns it as it is
//   RETURN_LAST_ERROR_CODE_IF(condition) a call reported failure; returns
//                                      GetLastError() (never 0 on failure)
//   LAST_ERROR_CODE_IF(condition)      traces and gives GetLastError() when
//                                      the condition holds, else ERROR_SUCCESS
//
// And EXCEPTION_BOUNDARY(body), which keeps C++ exceptions from crossing a COM
// method and traces the place and function it guards.
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

// The last error as a code; a call that failed without one still fails.
inline DWORD LastErrorCode(const char* file, int line, const char* expression)
{
    const DWORD error = GetLastError();
    TraceWin32(file, line, expression, error);
    return error ? error : ERROR_GEN_FAILURE;
}

inline DWORD LastErrorCodeIf(const char* file, int line, const char* expression, bool condition)
{
    return condition ? LastErrorCode(file, line, expression) : ERROR_SUCCESS;
}

inline bool LogIfBoolFalse(const char* file, int line, const char* expression, BOOL ok)
{
    if (!ok)
        TraceWin32(file, line, expression, GetLastError());
    return ok != FALSE;
}

inline bool LogShellExecute(const char* file, int line, const char* expression, HINSTANCE instance)
{
    const auto code = reinterpret_cast<INT_PTR>(instance);
    if (code > 32)
        return true;
    TraceWin32(file, line, expression, static_cast<DWORD>(code));
    return false;
}

inline bool LogLastErrorIf(const char* file, int line, const char* expression, bool condition)
{
    if (condition)
        TraceWin32(file, line, expression, GetLastError());
    return condition;
}

// Writes the trace line of an exception caught at a boundary: the place and
// function that the boundary guards.
void TraceException(const char* file, int line, const char* function, const char* what, HRESULT hr);

// Runs body (returning HRESULT) and turns any escaping exception into a
// result, traced with the guarded place (EXCEPTION_BOUNDARY gives it).
template <typename Body>
HRESULT ExceptionBoundary(const char* file, int line, const char* function, Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        TraceException(file, line, function, "out of memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    } catch (...) {
        TraceException(file, line, function, "exception", E_UNEXPECTED);
        return E_UNEXPECTED;
    }
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

// The compiler's own base name where it has one: only that goes into the
// program, not the build machine's whole path.
#ifdef __FILE_NAME__
#define RESULT_FILE_ __FILE_NAME__
#else
#define RESULT_FILE_ result::BaseName(__FILE__)
#endif

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

#define RETURN_IF_WIN32_BOOL_FALSE(ok) RETURN_LAST_ERROR_IF(!(ok))
#define LOG_IF_WIN32_BOOL_FALSE(ok) result::LogIfBoolFalse(RESULT_FILE_, __LINE__, #ok, (ok))

#define LOG_IF_SHELL_EXECUTE_FAILED(instance) result::LogShellExecute(RESULT_FILE_, __LINE__, #instance, (instance))

#define RETURN_IF_WIN32_CODE(expr)                                                                                     \
    do {                                                                                                               \
        const DWORD codeFailed_ = (expr);                                                                              \
        if (codeFailed_ != ERROR_SUCCESS)                                                                              \
            return result::LogWin32(RESULT_FILE_, __LINE__, #expr, codeFailed_);                                       \
    } while (0)

#define RETURN_LAST_ERROR_CODE_IF(condition)                                                                           \
    do {                                                                                                               \
        if (condition)                                                                                                 \
            return result::LastErrorCode(RESULT_FILE_, __LINE__, #condition);                                          \
    } while (0)

#define LAST_ERROR_CODE_IF(condition) result::LastErrorCodeIf(RESULT_FILE_, __LINE__, #condition, (condition))

// A lambda returning HRESULT; any exception that escapes it becomes
// E_OUTOFMEMORY or E_UNEXPECTED, traced with this place and function.
#define EXCEPTION_BOUNDARY(...) result::ExceptionBoundary(RESULT_FILE_, __LINE__, __func__, __VA_ARGS__)
