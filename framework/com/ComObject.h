// The COM object toolkit of the module: the module's lock count, table-driven
// QueryInterface, and the one IUnknown of its objects in three lifetimes:
//
//   CComObject<T>        on the heap: counted, deleted by its last Release, and
//                        holding the module lock while it lives;
//   CComPart<T>          a member of another object, whose references it
//                        takes (T::Owner() names that object's IUnknown);
//   CComStaticObject<T>  a static object: references only lock the module.
//
// T derives from its interfaces and answers QueryInterface in
// InternalQueryInterface, normally from its table.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "framework/sys/Result.h"

// The module's lock count: every live COM object of the module and every
// IClassFactory::LockServer(TRUE) holds one. DllCanUnloadNow answers from it.
class CModuleLock {
public:
    CModuleLock() { Lock(); }
    ~CModuleLock() { Unlock(); }
    CModuleLock(const CModuleLock&) : CModuleLock() {}
    CModuleLock& operator=(const CModuleLock&) = default;

    static void Lock();
    static void Unlock();
    // S_OK when nothing holds the module, S_FALSE otherwise.
    static HRESULT CanUnloadNow();
};

// A class lists the interfaces it answers, with how to reach each from the
// object; it lists IID_IUnknown once, through the one base that is its
// identity.
struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*get)(void* object);
};

template <typename Class, typename Interface>
IUnknown* InterfaceOf(void* object)
{
    return static_cast<Interface*>(static_cast<Class*>(object));
}

// For an interface reached through one of several bases that derive from it.
template <typename Class, typename Via, typename Interface>
IUnknown* InterfaceVia(void* object)
{
    return static_cast<Interface*>(static_cast<Via*>(static_cast<Class*>(object)));
}

#define INTERFACE_ENTRY(Class, Interface)                                                                              \
    {                                                                                                                  \
        &IID_##Interface, &InterfaceOf<Class, Interface>                                                               \
    }
#define INTERFACE_ENTRY_VIA(Class, Interface, Via)                                                                     \
    {                                                                                                                  \
        &IID_##Interface, &InterfaceVia<Class, Via, Interface>                                                         \
    }
#define INTERFACE_IDENTITY(Class, Via) INTERFACE_ENTRY_VIA(Class, IUnknown, Via)

// Looks riid up in table (count entries); on success the interface is
// AddRef'ed into *ppv. E_NOINTERFACE (and *ppv null) otherwise.
HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry* table, size_t count, REFIID riid, void** ppv);

template <size_t N>
HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry (&table)[N], REFIID riid, void** ppv)
{
    return QueryInterfaceFromTable(object, table, N, riid, ppv);
}

// Declares a class's InternalQueryInterface from its table of entries.
#define INTERFACE_TABLE(...)                                                                                           \
    HRESULT InternalQueryInterface(REFIID riid, void** ppv)                                                            \
    {                                                                                                                  \
        static const InterfaceEntry kInterfaces[] = {__VA_ARGS__};                                                     \
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);                                                  \
    }

template <typename T>
class CComObject final : public T {
public:
    using T::T;

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
    using T::T;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return this->InternalQueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return this->Owner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return this->Owner()->Release(); }
};

template <typename T>
class CComStaticObject final : public T {
public:
    using T::T;

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
