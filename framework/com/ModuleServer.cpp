#include "framework/com/ModuleServer.h"

#include <olectl.h>

#include <string>

#include "framework/com/ComObject.h"
#include "framework/com/InterfacePtr.h"
#include "framework/sys/GuidText.h"
#include "framework/sys/Module.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"
#include "framework/win/Window.h"

namespace {

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
    explicit CUserClassesRoot(HKEY classes)
        : m_result(LOG_IF_WIN32_ERROR(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes)))
    {
    }
    ~CUserClassesRoot()
    {
        if (m_result == ERROR_SUCCESS)
            LOG_IF_WIN32_ERROR(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr));
    }
    CUserClassesRoot(const CUserClassesRoot&) = delete;
    CUserClassesRoot& operator=(const CUserClassesRoot&) = delete;
    HRESULT Result() const { return HRESULT_FROM_WIN32(m_result); }

private:
    LONG m_result;
};

// The type library is registered for the module's own platform.
constexpr SYSKIND kModulePlatform = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

bool TypeLibraryRegistered(const TypeLibrary& library, HKEY classes)
{
    const std::string key = "TypeLib\\" + GuidText(*library.id) + "\\" + std::to_string(library.major) + "." +
        std::to_string(library.minor);
    return CRegKey().Open(classes, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

}  // namespace

HRESULT CModuleServer::RegisterTypeLibrary(const Target& target) const
{
    wchar_t path[MAX_PATH];
    RETURN_IF_WIN32_ERROR(ModuleFileName(path));
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(LoadTypeLibEx(path, REGKIND_NONE, typeLib.Put()));
    if (!target.perUser) {
        RETURN_IF_FAILED(RegisterTypeLib(typeLib.Get(), path, nullptr));
        return S_OK;
    }
    const CUserClassesRoot userRoot(target.classes);
    RETURN_IF_FAILED(userRoot.Result());
    const auto registerForUser = OleAutomationEntry<RegisterForUserFunction>("RegisterTypeLibForUser");
    RETURN_IF_FAILED((registerForUser ? registerForUser : &RegisterTypeLib)(typeLib.Get(), path, nullptr));
    return S_OK;
}

HRESULT CModuleServer::UnregisterTypeLibrary(const Target& target) const
{
    // Nothing registered is nothing to remove: unregistering twice, or after a
    // half-done registration, still removes the classes.
    if (!TypeLibraryRegistered(m_library, target.classes))
        return S_OK;
    const TypeLibrary& library = m_library;
    if (!target.perUser) {
        RETURN_IF_FAILED(UnRegisterTypeLib(*library.id, library.major, library.minor, LOCALE_NEUTRAL, kModulePlatform));
        return S_OK;
    }
    const CUserClassesRoot userRoot(target.classes);
    RETURN_IF_FAILED(userRoot.Result());
    const auto unregisterForUser = OleAutomationEntry<UnregisterForUserFunction>("UnRegisterTypeLibForUser");
    RETURN_IF_FAILED((unregisterForUser ? unregisterForUser : &UnRegisterTypeLib)(
        *library.id, library.major, library.minor, LOCALE_NEUTRAL, kModulePlatform));
    return S_OK;
}

HRESULT CModuleServer::UpdateClasses(bool registering, HKEY classes) const
{
    HRESULT first = S_OK;
    for (size_t i = 0; i < m_count; ++i) {
        const HRESULT hr = LOG_IF_FAILED(m_classObjects[i]->UpdateRegistry(registering, classes));
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    }
    return first;
}

// One registration code for both targets: the type library first, then the
// classes; a failed type library leaves the classes untouched. The two
// failure codes are the self-registration protocol's and keep their values;
// the call that failed is traced where it failed.
HRESULT CModuleServer::UpdateRegistration(bool registering, const Target& target) const
{
    const HRESULT typeLib =
        EXCEPTION_BOUNDARY([&] { return registering ? RegisterTypeLibrary(target) : UnregisterTypeLibrary(target); });
    if (FAILED(typeLib))
        return SELFREG_E_TYPELIB;
    if (FAILED(UpdateClasses(registering, target.classes)))
        return SELFREG_E_CLASS;
    return S_OK;
}

HRESULT CModuleServer::Register() const
{
    return UpdateRegistration(true, {HKEY_CLASSES_ROOT, false});
}

HRESULT CModuleServer::Unregister() const
{
    return UpdateRegistration(false, {HKEY_CLASSES_ROOT, false});
}

HRESULT CModuleServer::Install(bool install, const wchar_t* commandLine) const
{
    RETURN_HR_IF(E_INVALIDARG, !commandLine || lstrcmpiW(commandLine, L"user") != 0);
    CRegKey classes;
    RETURN_IF_WIN32_ERROR(classes.Create(HKEY_CURRENT_USER, "Software\\Classes", KEY_ALL_ACCESS));
    return UpdateRegistration(install, {classes.Get(), true});
}

HRESULT CModuleServer::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    for (size_t i = 0; i < m_count; ++i) {
        if (IsEqualCLSID(clsid, *m_classObjects[i]->Row().clsid))
            return m_classObjects[i]->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CModuleServer::CanUnloadNow()
{
    return CModuleLock::CanUnloadNow();
}

BOOL CModuleServer::OnDllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    // Unloaded by FreeLibrary (not process exit): no window class may keep
    // pointing into the module's freed code.
    if (reason == DLL_PROCESS_DETACH && !reserved)
        CWindow::UnregisterWindowClass();
    return TRUE;
}
