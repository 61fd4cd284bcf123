// The class object (class factory) of one creatable class of the module, and
// the registry entries of its class.
//
// Class objects are static objects, handed to the module server
// (ModuleServer.h), which finds them for DllGetClassObject and registration.
// They are CComStaticObjects: their references hold the module lock, like
// those of any object of the module.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "framework/com/ComObject.h"

// A type library of the module and its version.
struct TypeLibrary {
    const GUID* id;
    WORD major;
    WORD minor;
};

// One creatable class of the module: what registration writes for it, and
// how its class object makes one (the new object is given its row).
struct ClassRow {
    const CLSID* clsid = nullptr;
    const char* progId = nullptr;  // null: the class has no ProgID
    UINT typeNameId = 0;  // string resource: the class's type name
    const char* threadingModel = nullptr;  // null: none written
    // A control also names its type library, toolbox bitmap and misc status.
    const TypeLibrary* typeLibrary = nullptr;  // null: not a control
    UINT toolboxBitmapId = 0;
    DWORD miscStatus = 0;
    HRESULT (*create)(const ClassRow& row, REFIID riid, void** ppv) = nullptr;
};

// The creator of a row for class T, which is constructed from its row.
template <typename T>
HRESULT CreateFromRow(const ClassRow& row, REFIID riid, void** ppv)
{
    return CreateInstance<T>(riid, ppv, row);
}

class CClassObject : public IClassFactory {
public:
    explicit CClassObject(const ClassRow& row) : m_row(row) {}
    CClassObject(const CClassObject&) = delete;
    CClassObject& operator=(const CClassObject&) = delete;

    INTERFACE_TABLE(INTERFACE_ENTRY(CClassObject, IUnknown), INTERFACE_ENTRY(CClassObject, IClassFactory))
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    // Writes (register) or removes (unregister) the registry entries of
    // this class under classes: HKEY_CLASSES_ROOT for the machine, or the
    // current user's Software\Classes key.
    HRESULT UpdateRegistry(bool registering, HKEY classes) const;

    const ClassRow& Row() const { return m_row; }

private:
    const ClassRow& m_row;
};
