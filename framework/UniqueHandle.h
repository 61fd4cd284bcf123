// One owner for one system handle: closed when the owner goes, never twice.
#pragma once

#include <windows.h>

#include <utility>

// Traits: the handle type, its "none" value and how to close it.
template <typename Traits>
class CUniqueHandle {
public:
    using Type = typename Traits::Type;

    CUniqueHandle() = default;
    explicit CUniqueHandle(Type handle) : m_handle(handle) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Type Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }
    // For functions that return a handle through a pointer.
    Type* Put()
    {
        Reset();
        return &m_handle;
    }
    Type Release() { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid())
    {
        Type old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    Type m_handle = Traits::Invalid();
};

template <typename T, auto CloseFunction>
struct NullHandleTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type handle) { CloseFunction(handle); }
};

// Files and toolhelp snapshots use INVALID_HANDLE_VALUE for "none".
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { ::CloseHandle(handle); }
};

using CRegKeyHandle = CUniqueHandle<NullHandleTraits<HKEY, &::RegCloseKey>>;
using CKernelHandle = CUniqueHandle<NullHandleTraits<HANDLE, &::CloseHandle>>;
using CFileHandle = CUniqueHandle<FileHandleTraits>;
using CGdiObjectHandle = CUniqueHandle<NullHandleTraits<HGDIOBJ, &::DeleteObject>>;
using CMemoryDCHandle = CUniqueHandle<NullHandleTraits<HDC, &::DeleteDC>>;
