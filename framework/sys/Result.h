// HRESULT plumbing for COM methods: early returns on failure, and a guard
// that keeps C++ exceptions from crossing a COM boundary.
#pragma once

#include <windows.h>

#include <new>

#define RETURN_IF_FAILED(expr)                                                                                         \
    do {                                                                                                               \
        const HRESULT hrFailed_ = (expr);                                                                              \
        if (FAILED(hrFailed_))                                                                                         \
            return hrFailed_;                                                                                          \
    } while (0)

#define RETURN_HR_IF(hr, condition)                                                                                    \
    do {                                                                                                               \
        if (condition)                                                                                                 \
            return (hr);                                                                                               \
    } while (0)

#define RETURN_HR_IF_NULL(hr, pointer) RETURN_HR_IF(hr, (pointer) == nullptr)

// Runs body (returning HRESULT) and turns any escaping exception into a result.
template <typename Body>
HRESULT ExceptionBoundary(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
