#include "framework/com/ClassObject.h"

#include <string>
#include <vector>

#include "framework/sys/GuidText.h"
#include "framework/sys/ResourceText.h"
#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "framework/sys/RegKey.h"

namespace {

// The registry entries of a class under a classes root: the values that
// registering writes and the keys that unregistering removes whole; one
// table for both ways.
struct RegistryScript {
    struct Entry {
        std::string key;
        std::string name;  // empty: the key's default value
        std::string text;
    };
    std::vector<std::string> ownedKeys;
    std::vector<Entry> entries;

    void Value(std::string key, std::string name, std::string text)
    {
        entries.push_back({std::move(key), std::move(name), std::move(text)});
    }
    // S_OK or the first failure.
    HRESULT Write(HKEY classes) const
    {
        for (const Entry& entry : entries) {
            CRegKey key;
            RETURN_IF_WIN32_ERROR(key.Create(classes, entry.key.c_str(), KEY_SET_VALUE));
            RETURN_IF_WIN32_ERROR(key.WriteString(entry.name.c_str(), entry.text));
        }
        return S_OK;
    }
    // A key already gone counts as removed.
    HRESULT Remove(HKEY classes) const
    {
        for (const std::string& key : ownedKeys)
            RETURN_IF_WIN32_ERROR(CRegKey::DeleteTree(classes, key.c_str()));
        return S_OK;
    }
};

RegistryScript ScriptOf(const ClassRow& r, const std::string& module)
{
    const std::string typeName = AnsiFromResource(LoadResourceText(r.typeNameId));
    const std::string clsidKey = "CLSID\\" + GuidText(*r.clsid);

    RegistryScript script;
    script.ownedKeys.push_back(clsidKey);
    script.Value(clsidKey, "", typeName);
    if (r.progId)
        script.Value(clsidKey + "\\ProgID", "", r.progId);
    script.Value(clsidKey + "\\InprocServer32", "", module);
    if (r.threadingModel)
        script.Value(clsidKey + "\\InprocServer32", "ThreadingModel", r.threadingModel);
    if (r.typeLibrary) {
        script.Value(clsidKey + "\\ToolboxBitmap32", "", module + ", " + std::to_string(r.toolboxBitmapId));
        script.Value(clsidKey + "\\MiscStatus", "", "0");
        script.Value(clsidKey + "\\MiscStatus\\1", "", std::to_string(r.miscStatus));
        script.Value(clsidKey + "\\Control", "", "");
        const TypeLibrary& library = *r.typeLibrary;
        script.Value(clsidKey + "\\TypeLib", "", GuidText(*library.id));
        script.Value(clsidKey + "\\Version", "", std::to_string(library.major) + "." + std::to_string(library.minor));
    }
    if (r.progId) {
        script.ownedKeys.push_back(r.progId);
        script.Value(r.progId, "", typeName);
        script.Value(std::string(r.progId) + "\\CLSID", "", GuidText(*r.clsid));
    }
    return script;
}

}  // namespace

STDMETHODIMP CClassObject::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    RETURN_HR_IF(CLASS_E_NOAGGREGATION, outer != nullptr);
    return m_row.create(m_row, riid, ppv);
}

STDMETHODIMP CClassObject::LockServer(BOOL lock)
{
    if (lock)
        CModuleLock::Lock();
    else
        CModuleLock::Unlock();
    return S_OK;
}

HRESULT CClassObject::UpdateRegistry(bool registering, HKEY classes) const
{
    return EXCEPTION_BOUNDARY([&] {
        // A class whose server cannot be named is not registered at all.
        std::string module;
        RETURN_HR_IF(E_FAIL, ModuleFileName(module) != ERROR_SUCCESS);
        const RegistryScript script = ScriptOf(m_row, module);
        return registering ? script.Write(classes) : script.Remove(classes);
    });
}
