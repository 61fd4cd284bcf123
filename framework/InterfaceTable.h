// Table-driven QueryInterface: a class lists the interfaces it answers, with
// how to reach each from the object. A class lists IID_IUnknown once, through
// the one base that is its identity.
#pragma once

#include <windows.h>
#include <unknwn.h>

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

#define INTERFACE_ENTRY(Class, Interface) {&IID_##Interface, &InterfaceOf<Class, Interface>}
#define INTERFACE_ENTRY_VIA(Class, Interface, Via) {&IID_##Interface, &InterfaceVia<Class, Via, Interface>}
#define INTERFACE_IDENTITY(Class, Via) INTERFACE_ENTRY_VIA(Class, IUnknown, Via)

// Looks riid up in table (count entries); on success the interface is
// AddRef'ed into *ppv. E_NOINTERFACE (and *ppv null) otherwise.
HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry* table, size_t count, REFIID riid, void** ppv);

template <size_t N>
HRESULT QueryInterfaceFromTable(void* object, const InterfaceEntry (&table)[N], REFIID riid, void** ppv)
{
    return QueryInterfaceFromTable(object, table, N, riid, ppv);
}
