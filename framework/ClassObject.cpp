#include "framework/ClassObject.h"

#include "framework/AnsiText.h"
#include "framework/ComResult.h"
#include "framework/InterfaceTable.h"
#include "framework/ModuleLock.h"

namespace {
// Constant-initialised head of the list of class objects, newest first.
CClassObject* g_classObjects = nullptr;
}  // namespace

CClassObject::CClassObject(const ClassRow& row) : m_row(row), m_next(g_classObjects)
{
    g_classObjects = this;
}

CClassObject::~CClassObject()
{
    for (CClassObject** link = &g_classObjects; *link; link = &(*link)->m_next) {
        if (*link == this) {
            *link = m_next;
            break;
        }
    }
}

HRESULT CClassObject::InternalQueryInterface(REFIID riid, void** ppv)
{
    static const InterfaceEntry kInterfaces[] = {
        INTERFACE_ENTRY(CClassObject, IUnknown),
        INTERFACE_ENTRY(CClassObject, IClassFactory),
    };
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

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

CRegistryScript CClassObject::RegistryScript() const
{
    const ClassRow& r = m_row;
    const std::string module = ModuleFileName();
    const std::string typeName = AnsiFromResource(LoadResourceText(r.typeNameId));
    const std::string clsidKey = "CLSID\\" + GuidText(*r.clsid);

    CRegistryScript script;
    script.OwnKey(clsidKey);
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
        script.OwnKey(r.progId);
        script.Value(r.progId, "", typeName);
        script.Value(std::string(r.progId) + "\\CLSID", "", GuidText(*r.clsid));
    }
    return script;
}

HRESULT CClassObject::UpdateRegistry(bool registering) const
{
    return ExceptionBoundary([&] {
        const CRegistryScript script = RegistryScript();
        const LONG result = registering ? script.Write() : script.Remove();
        return HRESULT_FROM_WIN32(result);
    });
}

HRESULT CClassObject::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    *ppv = nullptr;
    for (CClassObject* object = g_classObjects; object; object = object->m_next) {
        if (IsEqualCLSID(clsid, *object->m_row.clsid))
            return object->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CClassObject::UpdateRegistryAll(bool registering)
{
    HRESULT first = S_OK;
    for (CClassObject* object = g_classObjects; object; object = object->m_next) {
        const HRESULT hr = object->UpdateRegistry(registering);
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    }
    return first;
}
