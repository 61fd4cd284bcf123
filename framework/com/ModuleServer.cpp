// The module: its static objects, in the order they come up (and, reversed,
// go down), and its entry points.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "BuildConfig.h"
#include "control/ClassIds.h"
#include "control/VantorimaCtrl.h"
#include "control/VantorimaPropPage.h"
#include "framework/sys/AnsiText.h"
#include "framework/com/ClassObject.h"
#include "framework/com/ComObject.h"
#include "framework/sys/Result.h"
#include "framework/com/ControlModule.h"
#include "framework/com/InterfacePtr.h"
#include "framework/sys/Module.h"
#include "framework/sys/RegKey.h"
#include "framework/win/Window.h"
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

// Where one registration goes: the machine's classes, or the current user's.
struct RegistrationTarget {
    HKEY classes;
    bool perUser;
};

// Per-user type library registration. Older oleaut32 versions lack the
// ...ForUser entries, so they are looked up (the module must still load
// there) and plain registration stands in; and some, Wine's among them,
// write the ...ForUser registration machine-wide all the same. So while it
// runs, this process's HKEY_CLASSES_ROOT is the user's classes key.
using RegisterForUserFunction = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

template <typename Function>
Function OleAutomationEntry(const char* name)
{
    const HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    return oleaut ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(oleaut, name))) : nullptr;
}

class CUserClassesRoot {
public:
    explicit CUserClassesRoot(HKEY classes) : m_result(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes)) {}
    ~CUserClassesRoot()
    {
        if (m_result == ERROR_SUCCESS)
            RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    CUserClassesRoot(const CUserClassesRoot&) = delete;
    CUserClassesRoot& operator=(const CUserClassesRoot&) = delete;
    HRESULT Result() const { return HRESULT_FROM_WIN32(m_result); }

private:
    LONG m_result;
};

// The type library is the module's TYPELIB resource 1, registered for the
// module's own platform.
constexpr SYSKIND kModulePlatform = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

HRESULT RegisterTypeLibrary(const RegistrationTarget& target)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    RETURN_HR_IF(E_FAIL, length == 0 || length >= MAX_PATH);
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(LoadTypeLibEx(path, REGKIND_NONE, typeLib.Put()));
    if (!target.perUser)
        return RegisterTypeLib(typeLib.Get(), path, nullptr);
    const CUserClassesRoot userRoot(target.classes);
    RETURN_IF_FAILED(userRoot.Result());
    const auto registerForUser = OleAutomationEntry<RegisterForUserFunction>("RegisterTypeLibForUser");
    return (registerForUser ? registerForUser : &RegisterTypeLib)(typeLib.Get(), path, nullptr);
}

bool TypeLibraryRegistered(HKEY classes)
{
    const std::string key = "TypeLib\\" + GuidText(*kTypeLibrary.id) + "\\" + std::to_string(kTypeLibrary.major) + "." +
        std::to_string(kTypeLibrary.minor);
    return CRegKey().Open(classes, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

HRESULT UnregisterTypeLibrary(const RegistrationTarget& target)
{
    // Nothing registered is nothing to remove: unregistering twice, or after a
    // half-done registration, still removes the classes.
    if (!TypeLibraryRegistered(target.classes))
        return S_OK;
    const TypeLibrary& library = kTypeLibrary;
    if (!target.perUser)
        return UnRegisterTypeLib(*library.id, library.major, library.minor, LOCALE_NEUTRAL, kModulePlatform);
    const CUserClassesRoot userRoot(target.classes);
    RETURN_IF_FAILED(userRoot.Result());
    const auto unregisterForUser = OleAutomationEntry<UnregisterForUserFunction>("UnRegisterTypeLibForUser");
    return (unregisterForUser ? unregisterForUser : &UnRegisterTypeLib)(*library.id, library.major, library.minor,
                                                                        LOCALE_NEUTRAL, kModulePlatform);
}

// One registration code for both targets: the type library first, then the
// classes; a failed type library leaves the classes untouched.
HRESULT UpdateRegistration(bool registering, const RegistrationTarget& target)
{
    const HRESULT typeLib =
        ExceptionBoundary([&] { return registering ? RegisterTypeLibrary(target) : UnregisterTypeLibrary(target); });
    if (FAILED(typeLib))
        return SELFREG_E_TYPELIB;
    if (FAILED(CClassObject::UpdateRegistryAll(registering, target.classes)))
        return SELFREG_E_CLASS;
    return S_OK;
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
    return UpdateRegistration(true, {HKEY_CLASSES_ROOT, false});
}

STDAPI DllUnregisterServer()
{
    return UpdateRegistration(false, {HKEY_CLASSES_ROOT, false});
}

#if VANTORIMA_PER_USER
// regsvr32 /n /i:user (and /u /n /i:user): the same entries for the current
// user alone, which needs no administrator.
STDAPI DllInstall(BOOL install, PCWSTR commandLine)
{
    RETURN_HR_IF(E_INVALIDARG, !commandLine || lstrcmpiW(commandLine, L"user") != 0);
    CRegKey classes;
    const LONG opened = classes.Create(HKEY_CURRENT_USER, "Software\\Classes", KEY_ALL_ACCESS);
    RETURN_HR_IF(HRESULT_FROM_WIN32(opened), opened != ERROR_SUCCESS);
    return UpdateRegistration(install != FALSE, {classes.Get(), true});
}
#endif

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return CClassObject::GetClassObject(clsid, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return CModuleLock::CanUnloadNow();
}

}  // extern "C"
