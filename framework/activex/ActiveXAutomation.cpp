// The control base: dispatch from the member table, class information, the
// event connection point, property pages, quick activation and the site.
#include "framework/activex/ActiveXControl.h"

#include <oleauto.h>

#include "framework/sys/AnsiText.h"
#include "framework/sys/ResourceText.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"

// ---- IDispatch ---------------------------------------------------------------

HRESULT CActiveXControl::GetTypeLib(LCID lcid, ITypeLib** typeLib) const
{
    const TypeLibrary& library = *m_row.typeLibrary;
    RETURN_IF_FAILED(LoadRegTypeLib(*library.id, library.major, library.minor, lcid, typeLib));
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetTypeInfoCount(UINT* count)
{
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo)
{
    RETURN_HR_IF_NULL(E_POINTER, typeInfo);
    *typeInfo = nullptr;
    RETURN_HR_IF(DISP_E_BADINDEX, index != 0);
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(GetTypeLib(lcid, typeLib.Put()));
    RETURN_IF_FAILED(typeLib->GetTypeInfoOfGuid(*m_class.dispatchIid, typeInfo));
    return S_OK;
}

const DispatchMember* CActiveXControl::FindMember(DISPID id) const
{
    for (size_t i = 0; i < m_class.memberCount; ++i) {
        if (m_class.members[i].id == id)
            return &m_class.members[i];
    }
    return nullptr;
}

STDMETHODIMP CActiveXControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
    RETURN_HR_IF(E_POINTER, !names || !ids);
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (count == 0)
        return S_OK;
    for (size_t i = 0; i < m_class.memberCount && names[0]; ++i) {
        if (lstrcmpiW(names[0], m_class.members[i].name) == 0) {
            ids[0] = m_class.members[i].id;
            // No member takes named parameters.
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT CActiveXControl::InvokeMember(const DispatchMember& member, WORD flags, DISPPARAMS* params, VARIANT* result,
                                      UINT* argumentError)
{
    const UINT argCount = params ? params->cArgs : 0;
    if (!member.property) {
        RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !(flags & DISPATCH_METHOD));
        RETURN_HR_IF(DISP_E_BADPARAMCOUNT, argCount != 0);
        member.call(*this);
        return S_OK;
    }
    std::string& value = member.property(*this);
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        RETURN_HR_IF(DISP_E_BADPARAMCOUNT, argCount != 1);
        RETURN_HR_IF(DISP_E_PARAMNOTOPTIONAL,
                     params->cNamedArgs > 1 ||
                         (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT));
        // Owned, so that a failed conversion below does not leak it.
        CVariant text;
        if (FAILED(LOG_IF_FAILED(VariantChangeType(text.Put(), &params->rgvarg[0], 0, VT_BSTR)))) {
            if (argumentError)
                *argumentError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        value = AnsiFromBstr(text.Get().bstrVal);
        if (member.call)
            member.call(*this);
        return S_OK;
    }
    RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, !(flags & DISPATCH_PROPERTYGET));
    RETURN_HR_IF(DISP_E_BADPARAMCOUNT, argCount != 0);
    if (result) {
        BSTR copy = BstrFromAnsi(value);
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, copy);
        result->vt = VT_BSTR;
        result->bstrVal = copy;
    }
    return S_OK;
}

STDMETHODIMP CActiveXControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT* argumentError)
{
    RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !IsEqualIID(riid, IID_NULL));
    const DispatchMember* member = FindMember(id);
    RETURN_HR_IF_NULL(DISP_E_MEMBERNOTFOUND, member);
    if (result)
        VariantInit(result);
    return EXCEPTION_BOUNDARY([&] { return InvokeMember(*member, flags, params, result, argumentError); });
}

// ---- IProvideClassInfo2, connection points, pages, quick activation, site ------

STDMETHODIMP CActiveXControl::GetClassInfo(ITypeInfo** typeInfo)
{
    RETURN_HR_IF_NULL(E_POINTER, typeInfo);
    *typeInfo = nullptr;
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(GetTypeLib(LOCALE_NEUTRAL, typeLib.Put()));
    RETURN_IF_FAILED(typeLib->GetTypeInfoOfGuid(*m_row.clsid, typeInfo));
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetGUID(DWORD kind, GUID* guid)
{
    RETURN_HR_IF_NULL(E_POINTER, guid);
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = *m_class.eventIid;
    return S_OK;
}

STDMETHODIMP CActiveXControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    return m_eventPoint.Enumerate(points);
}

STDMETHODIMP CActiveXControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    RETURN_HR_IF_NULL(E_POINTER, point);
    *point = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, !IsEqualIID(riid, m_eventPoint.EventIid()));
    *point = &m_eventPoint;
    m_eventPoint.AddRef();
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetPages(CAUUID* pages)
{
    RETURN_HR_IF_NULL(E_POINTER, pages);
    pages->cElems = 0;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (m_class.propertyPageCount + 1)));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, pages->pElems);
    for (ULONG i = 0; i < m_class.propertyPageCount; ++i)
        pages->pElems[i] = m_class.propertyPages[i];
    pages->cElems = m_class.propertyPageCount;
    return S_OK;
}

STDMETHODIMP CActiveXControl::QuickActivate(QACONTAINER* container, QACONTROL* control)
{
    RETURN_HR_IF(E_POINTER, !container || !control);
    RETURN_HR_IF(E_INVALIDARG,
                 container->cbSize < offsetof(QACONTAINER, pUnkEventSink) + sizeof(IUnknown*) ||
                     control->cbSize < sizeof(QACONTROL));
    RETURN_IF_FAILED(SetClientSite(container->pClientSite));
    if (container->pAdviseSink)
        LOG_IF_FAILED(SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink));
    // A sink that cannot be connected gets no cookie, but the activation
    // goes on: the host learns from cookie 0 that nothing is connected, as
    // a later Advise of its own would tell it.
    DWORD cookie = 0;
    if (container->pUnkEventSink && FAILED(LOG_IF_FAILED(m_eventPoint.Advise(container->pUnkEventSink, &cookie))))
        cookie = 0;
    control->dwMiscStatus = m_row.miscStatus;
    control->dwViewStatus = 0;
    control->dwEventCookie = cookie;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

STDMETHODIMP CActiveXControl::SetContentExtent(LPSIZEL size)
{
    return SetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP CActiveXControl::GetContentExtent(LPSIZEL size)
{
    return GetExtent(DVASPECT_CONTENT, size);
}

STDMETHODIMP CActiveXControl::SetSite(IUnknown* site)
{
    m_site = CInterfacePtr<IUnknown>(site);
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetSite(REFIID riid, void** site)
{
    RETURN_HR_IF_NULL(E_POINTER, site);
    *site = nullptr;
    RETURN_HR_IF(E_FAIL, !m_site);
    return m_site->QueryInterface(riid, site);
}

IUnknown* CActiveXControl::HostSite() const
{
    if (m_clientSite)
        return m_clientSite.Get();
    return m_site.Get();
}

HRESULT CActiveXControl::ShowPropertyFrame(HWND parent)
{
    // A host that shows property frames itself goes first.
    CInterfacePtr<IOleControlSite> controlSite;
    if (m_clientSite && SUCCEEDED(m_clientSite.As(&controlSite)) && controlSite->ShowPropertyFrame() == S_OK)
        return S_OK;
    const ResourceText name = LoadResourceText(m_row.typeNameId);
    const CBstr caption(SysAllocStringLen(name.text, name.length));
    RETURN_HR_IF(E_OUTOFMEMORY, !caption);
    IUnknown* self = Identity();
    RETURN_IF_FAILED(OleCreatePropertyFrame(parent, 0, 0, caption.Get(), 1, &self, m_class.propertyPageCount,
                                            const_cast<CLSID*>(m_class.propertyPages), GetUserDefaultLCID(), 0,
                                            nullptr));
    return S_OK;
}
