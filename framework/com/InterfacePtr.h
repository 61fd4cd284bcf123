// One owned reference to a COM interface: released when the owner goes.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

template <typename T>
class CInterfacePtr {
public:
    CInterfacePtr() = default;
    // Takes a new reference to p.
    explicit CInterfacePtr(T* p) : m_p(p)
    {
        if (m_p)
            m_p->AddRef();
    }
    CInterfacePtr(const CInterfacePtr& other) : CInterfacePtr(other.m_p) {}
    CInterfacePtr(CInterfacePtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CInterfacePtr() { Reset(); }
    CInterfacePtr& operator=(CInterfacePtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For functions that return a reference through a pointer.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset()
    {
        if (T* p = std::exchange(m_p, nullptr))
            p->Release();
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }

    // The object's interface U.
    template <typename U>
    HRESULT As(CInterfacePtr<U>* out) const
    {
        return m_p ? m_p->QueryInterface(__uuidof(U), out->PutVoid()) : E_POINTER;
    }

private:
    T* m_p = nullptr;
};
