// The module server: what an in-process COM server's exports do, for the
// class objects and the type library that the module hands it.
//
//   DllMain            -> CModuleServer::OnDllMain
//   DllRegisterServer  -> Register: the type library, then every class,
//                         under HKEY_CLASSES_ROOT (machine-wide)
//   DllUnregisterServer-> Unregister, in the same order
//   DllInstall         -> Install: the same for the current user alone
//                         (regsvr32 /n /i:user), under HKCU\Software\Classes
//   DllGetClassObject  -> GetClassObject
//   DllCanUnloadNow    -> CanUnloadNow
//
// Registration results are the self-registration codes installers know:
// SELFREG_E_TYPELIB when the type library fails (and no class is then
// touched), SELFREG_E_CLASS when a class fails; the trace says which call.
#pragma once

#include <windows.h>

#include "framework/com/ClassObject.h"

class CModuleServer {
public:
    // library: the module's TYPELIB resource 1; classObjects: the module's
    // static class objects. Both must outlive the server.
    template <size_t N>
    constexpr CModuleServer(const TypeLibrary& library, CClassObject* const (&classObjects)[N])
        : m_library(library), m_classObjects(classObjects), m_count(N)
    {
    }

    HRESULT Register() const;
    HRESULT Unregister() const;
    // commandLine must be "user"; E_INVALIDARG otherwise.
    HRESULT Install(bool install, const wchar_t* commandLine) const;
    // CLASS_E_CLASSNOTAVAILABLE for a class this module does not have.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
    static HRESULT CanUnloadNow();
    static BOOL OnDllMain(HINSTANCE instance, DWORD reason, void* reserved);

private:
    // Where one registration goes: the machine's classes, or the user's.
    struct Target {
        HKEY classes;
        bool perUser;
    };
    HRESULT UpdateRegistration(bool registering, const Target& target) const;
    HRESULT RegisterTypeLibrary(const Target& target) const;
    HRESULT UnregisterTypeLibrary(const Target& target) const;
    // Every class object's entries; S_OK or the first failure (the others
    // are still tried).
    HRESULT UpdateClasses(bool registering, HKEY classes) const;

    const TypeLibrary& m_library;
    CClassObject* const* m_classObjects;
    size_t m_count;
};
