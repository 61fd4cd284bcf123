#include "framework/activex/ObjectSafety.h"

#include <ocidl.h>

#include "framework/activex/ActiveXControl.h"
#include "framework/com/InterfacePtr.h"

namespace {

constexpr DWORD kSafeForScripting = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
constexpr DWORD kSafeForInitializing = INTERFACESAFE_FOR_UNTRUSTED_DATA;

bool IsPersistence(REFIID riid)
{
    return IsEqualIID(riid, IID_IPersistPropertyBag) || IsEqualIID(riid, IID_IPersistStreamInit) ||
        IsEqualIID(riid, IID_IPersistStorage) || IsEqualIID(riid, IID_IPersistMemory);
}

}  // namespace

HRESULT CObjectSafety::InternalQueryInterface(REFIID riid, void** ppv)
{
    return Owner()->QueryInterface(riid, ppv);
}

IUnknown* CObjectSafety::Owner() const
{
    return m_owner.Identity();
}

bool CObjectSafety::OwnerImplements(REFIID riid)
{
    CInterfacePtr<IUnknown> found;
    return SUCCEEDED(Owner()->QueryInterface(riid, found.PutVoid())) && found;
}

STDMETHODIMP CObjectSafety::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled)
{
    if (!supported || !enabled)
        return E_POINTER;
    *supported = kSafeForScripting | kSafeForInitializing;
    *enabled = 0;
    if (!OwnerImplements(riid))
        return E_NOINTERFACE;
    if (IsEqualIID(riid, IID_IDispatch)) {
        *enabled = kSafeForScripting;
        return S_OK;
    }
    if (IsPersistence(riid)) {
        *enabled = kSafeForInitializing;
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP CObjectSafety::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled)
{
    if (mask == 0 && enabled == 0)
        return S_OK;
    // Neither scripted nor initialised from a page the control refuses.
    if (!m_owner.SiteMayUseControl())
        return E_FAIL;
    if (!OwnerImplements(riid))
        return E_FAIL;
    if (IsEqualIID(riid, IID_IDispatch))
        return mask == kSafeForScripting && enabled == kSafeForScripting ? S_OK : E_FAIL;
    if (IsPersistence(riid))
        return mask == kSafeForInitializing && enabled == kSafeForInitializing ? S_OK : E_FAIL;
    return E_FAIL;
}
