// The control base: its view (IViewObject2) and the data it does not render
// (IDataObject).
#include "framework/activex/ActiveXControl.h"

#include "framework/sys/Result.h"

STDMETHODIMP CActiveXControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw, LPCRECTL bounds, LPCRECTL,
                                   BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
    RETURN_HR_IF(E_INVALIDARG, !draw || !bounds);
    const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    OnDraw(draw, rect);
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colorSet)
{
    if (colorSet)
        *colorSet = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::Freeze(DWORD, LONG, void*, DWORD*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::Unfreeze(DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink)
{
    m_viewSink = CInterfacePtr<IAdviseSink>(sink);
    m_viewAspects = aspects;
    m_viewAdvf = advf;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink)
{
    if (aspects)
        *aspects = m_viewAspects;
    if (advf)
        *advf = m_viewAdvf;
    if (sink)
        *sink = CInterfacePtr<IAdviseSink>(m_viewSink).Detach();
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size)
{
    return GetExtent(aspect, size);
}

STDMETHODIMP CActiveXControl::GetData(FORMATETC*, STGMEDIUM*)
{
    return DV_E_FORMATETC;
}

STDMETHODIMP CActiveXControl::GetDataHere(FORMATETC*, STGMEDIUM*)
{
    return DV_E_FORMATETC;
}

STDMETHODIMP CActiveXControl::QueryGetData(FORMATETC*)
{
    return DV_E_FORMATETC;
}

STDMETHODIMP CActiveXControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out)
{
    if (out)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::SetData(FORMATETC*, STGMEDIUM*, BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats)
{
    if (formats)
        *formats = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection)
{
    if (connection)
        *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP CActiveXControl::DUnadvise(DWORD)
{
    return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP CActiveXControl::EnumDAdvise(IEnumSTATDATA** advise)
{
    if (advise)
        *advise = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}
