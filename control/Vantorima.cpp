// The module: its static objects, in the order they come up (and, reversed,
// go down), and its four entry points.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "control/ClassIds.h"
#include "control/VantorimaCtrl.h"
#include "control/VantorimaPropPage.h"
#include "framework/AnsiText.h"
#include "framework/ClassObject.h"
#include "framework/ComObject.h"
#include "framework/ComResult.h"
#include "framework/ControlModule.h"
#include "framework/InterfacePtr.h"
#include "framework/Module.h"
#include "framework/RegKey.h"
#include "framework/Window.h"
#include "res/Resource.h"

namespace {

// The module's TYPELIB resource 1.
const TypeLibrary kTypeLibrary = {&LIBID_VANTORIMALib, 1, 0};

const ClassRow kControlRow = {
    .clsid = &CLSID_Vantorima,
    .progId = kControlProgId,
    .typeNameId = IDS_VANTORIMA,
    .threadingModel = "Apartment",
    .typeLibrary = &kTypeLibrary,
    .toolboxBitmapId = IDB_VANTORIMA,
    .miscStatus = CVantorimaCtrl::kMiscStatus,
    .create = &CreateFromRow<CVantorimaCtrl>,
};

// A property page is registered by class id and type name alone: its ProgID,
// VANTORIMA.VantorimaPropPage.1, is not written.
const ClassRow kPropPageRow = {
    .clsid = &CLSID_VantorimaPropPage,
    .typeNameId = IDS_VANTORIMA_PPG,
    .create = &CreateFromRow<CVantorimaPropPage>,
};

CControlModule theApp;

CComStaticObject<CClassObject> g_controlClassObject(kControlRow);
CComStaticObject<CClassObject> g_propPageClassObject(kPropPageRow);

// The type library is the module's TYPELIB resource 1.
HRESULT RegisterTypeLibrary()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    RETURN_HR_IF(E_FAIL, length == 0 || length >= MAX_PATH);
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(LoadTypeLibEx(path, REGKIND_NONE, typeLib.Put()));
    return RegisterTypeLib(typeLib.Get(), path, nullptr);
}

bool TypeLibraryRegistered()
{
    const std::string key = "TypeLib\\" + GuidText(*kTypeLibrary.id) + "\\" + std::to_string(kTypeLibrary.major) + "." +
        std::to_string(kTypeLibrary.minor);
    return CRegKey().Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

HRESULT UnregisterTypeLibrary()
{
    // Nothing registered is nothing to remove: unregistering twice, or after a
    // half-done registration, still removes the classes.
    if (!TypeLibraryRegistered())
        return S_OK;
    return UnRegisterTypeLib(*kTypeLibrary.id, kTypeLibrary.major, kTypeLibrary.minor, LOCALE_NEUTRAL, SYS_WIN32);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        if (!theApp.InitInstance()) {
            theApp.ExitInstance();
            return FALSE;
        }
        break;
    case DLL_PROCESS_DETACH:
        theApp.ExitInstance();
        // Unloaded by FreeLibrary (not process exit): no window class may
        // keep pointing into the module's freed code.
        if (!reserved)
            CWindow::UnregisterWindowClass();
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllRegisterServer()
{
    if (FAILED(ExceptionBoundary(&RegisterTypeLibrary)))
        return SELFREG_E_TYPELIB;
    if (FAILED(CClassObject::UpdateRegistryAll(true)))
        return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    if (FAILED(ExceptionBoundary(&UnregisterTypeLibrary)))
        return SELFREG_E_TYPELIB;
    if (FAILED(CClassObject::UpdateRegistryAll(false)))
        return SELFREG_E_CLASS;
    return S_OK;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return CClassObject::GetClassObject(clsid, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return CModuleLock::CanUnloadNow();
}

}  // extern "C"
