// The one IUnknown of the module's COM objects, in three lifetimes:
//
//   CComObject<T>        on the heap: counted, deleted by its last Release, and
//                        holding the module lock while it lives;
//   CComPart<T>          a member of another object, whose references it
//                        takes (T::Owner() names that object's IUnknown);
//   CComStaticObject<T>  a static object: references only lock the module.
//
// T derives from its interfaces and answers QueryInterface in
// InternalQueryInterface, normally from its table (InterfaceTable.h).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "framework/ComResult.h"
#include "framework/InterfaceTable.h"
#include "framework/ModuleLock.h"

template <typename T>
class CComObject final : public T {
public:
    template <typename... Args>
    explicit CComObject(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return this->InternalQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

private:
    CModuleLock m_moduleLock;
    LONG m_refs = 1;
};

template <typename T>
class CComPart final : public T {
public:
    template <typename... Args>
    explicit CComPart(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return this->InternalQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return this->Owner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return this->Owner()->Release(); }
};

template <typename T>
class CComStaticObject final : public T {
public:
    template <typename... Args>
    explicit CComStaticObject(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return this->InternalQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        CModuleLock::Lock();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        CModuleLock::Unlock();
        return 1;
    }
};

// A new T (made from args) asked for riid: the creator of a class object, and
// of the objects the module hands out.
template <typename T, typename... Args>
HRESULT CreateInstance(REFIID riid, void** ppv, Args&&... args)
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    auto* object = new (std::nothrow) CComObject<T>(std::forward<Args>(args)...);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, object);
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

// The same for an interface pointer of the type asked for.
template <typename T, typename Interface, typename... Args>
HRESULT CreateInstance(Interface** out, Args&&... args)
{
    return CreateInstance<T>(__uuidof(Interface), reinterpret_cast<void**>(out), std::forward<Args>(args)...);
}
