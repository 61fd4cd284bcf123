// The control base: OLE embedding, in-place activation and IOleControl.
#include "framework/activex/ActiveXControl.h"

#include <utility>

#include "framework/sys/ResourceText.h"
#include "framework/sys/Result.h"

// ---- IOleObject --------------------------------------------------------------

STDMETHODIMP CActiveXControl::SetClientSite(IOleClientSite* site)
{
    m_clientSite = CInterfacePtr<IOleClientSite>(site);
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetClientSite(IOleClientSite** site)
{
    RETURN_HR_IF_NULL(E_POINTER, site);
    *site = CInterfacePtr<IOleClientSite>(m_clientSite).Detach();
    return S_OK;
}

STDMETHODIMP CActiveXControl::SetHostNames(LPCOLESTR, LPCOLESTR)
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::Close(DWORD saveOption)
{
    if ((saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE) && m_modified && m_clientSite)
        LOG_IF_FAILED(m_clientSite->SaveObject());
    InPlaceDeactivate();
    if (m_adviseHolder)
        LOG_IF_FAILED(m_adviseHolder->SendOnClose());
    return S_OK;
}

STDMETHODIMP CActiveXControl::SetMoniker(DWORD, IMoniker*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker)
{
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, !m_clientSite);
    return LOG_IF_FAILED(m_clientSite->GetMoniker(assign, which, moniker));
}

STDMETHODIMP CActiveXControl::InitFromData(IDataObject*, BOOL, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::GetClipboardData(DWORD, IDataObject** data)
{
    if (data)
        *data = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT)
{
    if (!m_clientSite && site)
        m_clientSite = CInterfacePtr<IOleClientSite>(site);
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE:
        return InPlaceActivate(verb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (m_hWnd)
            ShowWindow(m_hWnd, SW_HIDE);
        return S_OK;
    case OLEIVERB_PROPERTIES:
        return ShowPropertyFrame(parent);
    default:
        break;
    }
    if (verb < 0)
        return E_NOTIMPL;
    // An unknown positive verb acts as the primary one.
    RETURN_IF_FAILED(InPlaceActivate(OLEIVERB_PRIMARY));
    return OLEOBJ_S_INVALIDVERB;
}

STDMETHODIMP CActiveXControl::EnumVerbs(IEnumOLEVERB** verbs)
{
    RETURN_HR_IF_NULL(E_POINTER, verbs);
    return LOG_IF_FAILED(OleRegEnumVerbs(*m_row.clsid, verbs));
}

STDMETHODIMP CActiveXControl::Update()
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::IsUpToDate()
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetUserClassID(CLSID* clsid)
{
    return GetClassID(clsid);
}

STDMETHODIMP CActiveXControl::GetUserType(DWORD, LPOLESTR* userType)
{
    RETURN_HR_IF_NULL(E_POINTER, userType);
    *userType = CoTaskMemCopy(LoadResourceText(m_row.typeNameId));
    return *userType ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CActiveXControl::SetExtent(DWORD aspect, SIZEL* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
    if (size->cx != m_extent.cx || size->cy != m_extent.cy) {
        m_extent = *size;
        SetModifiedFlag();
    }
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetExtent(DWORD aspect, SIZEL* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    RETURN_HR_IF(DV_E_DVASPECT, aspect != DVASPECT_CONTENT);
    *size = m_extent;
    return S_OK;
}

STDMETHODIMP CActiveXControl::Advise(IAdviseSink* sink, DWORD* connection)
{
    RETURN_HR_IF_NULL(E_POINTER, connection);
    *connection = 0;
    if (!m_adviseHolder)
        RETURN_IF_FAILED(CreateOleAdviseHolder(m_adviseHolder.Put()));
    return LOG_IF_FAILED(m_adviseHolder->Advise(sink, connection));
}

STDMETHODIMP CActiveXControl::Unadvise(DWORD connection)
{
    return m_adviseHolder ? m_adviseHolder->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP CActiveXControl::EnumAdvise(IEnumSTATDATA** advise)
{
    RETURN_HR_IF_NULL(E_POINTER, advise);
    *advise = nullptr;
    return m_adviseHolder ? m_adviseHolder->EnumAdvise(advise) : S_FALSE;
}

STDMETHODIMP CActiveXControl::GetMiscStatus(DWORD, DWORD* status)
{
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = m_row.miscStatus;
    return S_OK;
}

STDMETHODIMP CActiveXControl::SetColorScheme(LOGPALETTE*)
{
    return E_NOTIMPL;
}

// ---- In-place activation -----------------------------------------------------

HRESULT CActiveXControl::InPlaceActivate(LONG verb)
{
    // The window went without a deactivation (with the host's window, or
    // at the end of the launch): this activation starts over.
    if (m_inPlaceActive && !m_hWnd)
        InPlaceDeactivate();
    if (!m_inPlaceActive) {
        RETURN_HR_IF(E_UNEXPECTED, !m_clientSite);
        CInterfacePtr<IOleInPlaceSite> site;
        RETURN_IF_FAILED(m_clientSite.As(&site));
        RETURN_HR_IF(E_FAIL, site->CanInPlaceActivate() != S_OK);
        RETURN_IF_FAILED(site->OnInPlaceActivate());
        m_inPlaceSite = site;
        m_inPlaceActive = true;

        HWND parent = nullptr;
        RECT position = {};
        RECT clip = {};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        HRESULT hr = LOG_IF_FAILED(site->GetWindow(&parent));
        if (SUCCEEDED(hr))
            hr = LOG_IF_FAILED(site->GetWindowContext(m_frame.Put(), m_document.Put(), &position, &clip, &frameInfo));
        // The window's creation runs the control's WM_CREATE handler; a
        // failed creation is traced by the window.
        if (SUCCEEDED(hr) && !m_hWnd &&
            !CreateEx(0, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, position, parent))
            hr = E_FAIL;
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
    }
    if (m_hWnd && !IsWindowVisible(m_hWnd))
        ShowWindow(m_hWnd, SW_SHOWNA);
    return verb == OLEIVERB_INPLACEACTIVATE ? S_OK : UIActivate();
}

HRESULT CActiveXControl::UIActivate()
{
    if (m_uiActive || !m_inPlaceSite)
        return S_OK;
    m_uiActive = true;
    // The host's answers change nothing here: the control is active in its
    // window either way.
    LOG_IF_FAILED(m_inPlaceSite->OnUIActivate());
    IOleInPlaceActiveObject* active = this;
    if (m_frame) {
        LOG_IF_FAILED(m_frame->SetActiveObject(active, nullptr));
        LOG_IF_FAILED(m_frame->SetBorderSpace(nullptr));
    }
    if (m_document) {
        LOG_IF_FAILED(m_document->SetActiveObject(active, nullptr));
        LOG_IF_FAILED(m_document->SetBorderSpace(nullptr));
    }
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetWindow(HWND* hwnd)
{
    RETURN_HR_IF_NULL(E_POINTER, hwnd);
    *hwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXControl::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::InPlaceDeactivate()
{
    if (!m_inPlaceActive)
        return S_OK;
    UIDeactivate();
    m_inPlaceActive = false;
    if (m_hWnd)
        DestroyWindow();
    m_frame.Reset();
    m_document.Reset();
    CInterfacePtr<IOleInPlaceSite> site(std::move(m_inPlaceSite));
    if (site)
        LOG_IF_FAILED(site->OnInPlaceDeactivate());
    return S_OK;
}

STDMETHODIMP CActiveXControl::UIDeactivate()
{
    if (!m_uiActive)
        return S_OK;
    m_uiActive = false;
    if (m_frame)
        LOG_IF_FAILED(m_frame->SetActiveObject(nullptr, nullptr));
    if (m_document)
        LOG_IF_FAILED(m_document->SetActiveObject(nullptr, nullptr));
    if (m_inPlaceSite)
        LOG_IF_FAILED(m_inPlaceSite->OnUIDeactivate(FALSE));
    return S_OK;
}

STDMETHODIMP CActiveXControl::SetObjectRects(LPCRECT position, LPCRECT)
{
    RETURN_HR_IF_NULL(E_POINTER, position);
    if (m_hWnd)
        MoveWindow(m_hWnd, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    return S_OK;
}

STDMETHODIMP CActiveXControl::ReactivateAndUndo()
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::TranslateAccelerator(LPMSG)
{
    return S_FALSE;
}

STDMETHODIMP CActiveXControl::OnFrameWindowActivate(BOOL)
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::OnDocWindowActivate(BOOL)
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL)
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::EnableModeless(BOOL)
{
    return S_OK;
}

// ---- IOleControl -------------------------------------------------------------

STDMETHODIMP CActiveXControl::GetControlInfo(CONTROLINFO* info)
{
    RETURN_HR_IF_NULL(E_POINTER, info);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP CActiveXControl::OnMnemonic(MSG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CActiveXControl::OnAmbientPropertyChange(DISPID)
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::FreezeEvents(BOOL)
{
    return S_OK;
}
