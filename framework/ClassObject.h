// The class object (class factory) of one creatable class of the module.
//
// Class objects are static objects; constructing one enters it into the
// module's list, which DllGetClassObject and self-registration walk. They are
// CComStaticObjects: their references hold the module lock, like those of any
// object of the module.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "framework/RegistryScript.h"

// What registration writes for a class.
struct ClassRegistration {
    const CLSID* clsid;
    const char* progId;  // null: the class has no ProgID
    UINT typeNameId;     // string resource: the class's type name
    const char* threadingModel;  // null: none written
    // A control also names its toolbox bitmap, misc status and type library.
    bool control;
    UINT toolboxBitmapId;
    DWORD miscStatus;
    const GUID* typeLib;
    WORD typeLibMajor;
    WORD typeLibMinor;
};

class CClassObject : public IClassFactory {
public:
    // Creates a new object and asks it for riid (CreateInstance<T>); no
    // aggregation.
    using Creator = HRESULT (*)(REFIID riid, void** ppv);

    CClassObject(const ClassRegistration& registration, Creator creator);
    ~CClassObject();
    CClassObject(const CClassObject&) = delete;
    CClassObject& operator=(const CClassObject&) = delete;

    HRESULT InternalQueryInterface(REFIID riid, void** ppv);
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    // The registry entries of this class.
    CRegistryScript RegistryScript() const;
    // Writes (register) or removes (unregister) them.
    HRESULT UpdateRegistry(bool registering) const;

    // The class object for clsid, asked for riid; CLASS_E_CLASSNOTAVAILABLE
    // for a class this module does not have.
    static HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    // Every class object's UpdateRegistry; S_OK or the first failure (the
    // others are still tried).
    static HRESULT UpdateRegistryAll(bool registering);

private:
    const ClassRegistration& m_registration;
    Creator m_creator;
    CClassObject* m_next;
};
