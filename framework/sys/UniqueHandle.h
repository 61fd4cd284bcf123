// One owner for one system handle (or BSTR, or VARIANT): closed when the
// owner goes, never twice.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

// Traits: the handle type, its "none" value, how to tell it and how to close it.
template <typename Traits>
class CUniqueHandle {
public:
    using Type = typename Traits::Type;

    CUniqueHandle() = default;
    explicit CUniqueHandle(Type handle) : m_handle(handle) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Detach()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        Reset(other.Detach());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Type Get() const { return m_handle; }
    explicit operator bool() const { return !Traits::IsNone(m_handle); }
    // For functions that return a handle through a pointer.
    Type* Put()
    {
        Reset();
        return &m_handle;
    }
    // Hands the handle to the caller, who closes it.
    Type Detach() { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid())
    {
        Type old = std::exchange(m_handle, handle);
        if (Traits::IsNone(old))
            return;
        // Closing must not hide why the call before it failed.
        const DWORD error = GetLastError();
        Traits::Close(old);
        SetLastError(error);
    }

private:
    Type m_handle = Traits::Invalid();
};

template <typename T, auto CloseFunction>
struct NullHandleTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static bool IsNone(Type handle) { return handle == nullptr; }
    static void Close(Type handle) { CloseFunction(handle); }
};

// Files and toolhelp snapshots use INVALID_HANDLE_VALUE for "none".
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Type handle) { return handle == INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { ::CloseHandle(handle); }
};

// An empty VARIANT is "none"; closing clears what the value owns.
struct VariantTraits {
    using Type = VARIANT;
    static Type Invalid() { return VARIANT{}; }
    static bool IsNone(const Type& value) { return value.vt == VT_EMPTY; }
    static void Close(Type value) { VariantClear(&value); }
};

using CRegKeyHandle = CUniqueHandle<NullHandleTraits<HKEY, &::RegCloseKey>>;
using CKernelHandle = CUniqueHandle<NullHandleTraits<HANDLE, &::CloseHandle>>;
using CFileHandle = CUniqueHandle<FileHandleTraits>;
using CGdiObjectHandle = CUniqueHandle<NullHandleTraits<HGDIOBJ, &::DeleteObject>>;
using CMemoryDCHandle = CUniqueHandle<NullHandleTraits<HDC, &::DeleteDC>>;
using CBstr = CUniqueHandle<NullHandleTraits<BSTR, &::SysFreeString>>;
using CVariant = CUniqueHandle<VariantTraits>;
// Memory the system hands out with LocalAlloc (security descriptors, ...).
using CLocalMemory = CUniqueHandle<NullHandleTraits<HLOCAL, &::LocalFree>>;
