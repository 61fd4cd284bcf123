#include "framework/ActiveXControl.h"

#include <oleauto.h>

#include <utility>

#include "framework/AnsiText.h"
#include "framework/UniqueHandle.h"
#include "framework/ComResult.h"
#include "framework/InterfaceTable.h"

namespace {

// 100 x 50 pixels at 96 dpi, in HIMETRIC: the size before a host gives one.
constexpr LONG kDefaultExtentX = 2646;
constexpr LONG kDefaultExtentY = 1323;
// The stream of IPersistStorage's saved state.
const wchar_t kContentsStream[] = L"Contents";

const InterfaceEntry kInterfaces[] = {
    INTERFACE_IDENTITY(CActiveXControl, IOleObject),
    INTERFACE_ENTRY(CActiveXControl, IOleObject),
    INTERFACE_ENTRY_VIA(CActiveXControl, IOleWindow, IOleInPlaceObject),
    INTERFACE_ENTRY(CActiveXControl, IOleInPlaceObject),
    INTERFACE_ENTRY(CActiveXControl, IOleInPlaceActiveObject),
    INTERFACE_ENTRY(CActiveXControl, IOleControl),
    INTERFACE_ENTRY_VIA(CActiveXControl, IViewObject, IViewObject2),
    INTERFACE_ENTRY(CActiveXControl, IViewObject2),
    INTERFACE_ENTRY(CActiveXControl, IDataObject),
    INTERFACE_ENTRY_VIA(CActiveXControl, IPersist, IPersistStreamInit),
    INTERFACE_ENTRY(CActiveXControl, IPersistStreamInit),
    // IPersistStream's methods are the first ones of IPersistStreamInit.
    {&IID_IPersistStream, &InterfaceOf<CActiveXControl, IPersistStreamInit>},
    INTERFACE_ENTRY(CActiveXControl, IPersistPropertyBag),
    INTERFACE_ENTRY(CActiveXControl, IPersistStorage),
    INTERFACE_ENTRY(CActiveXControl, IPersistMemory),
    INTERFACE_ENTRY(CActiveXControl, IDispatch),
    INTERFACE_ENTRY_VIA(CActiveXControl, IProvideClassInfo, IProvideClassInfo2),
    INTERFACE_ENTRY(CActiveXControl, IProvideClassInfo2),
    INTERFACE_ENTRY(CActiveXControl, IConnectionPointContainer),
    INTERFACE_ENTRY(CActiveXControl, ISpecifyPropertyPages),
    INTERFACE_ENTRY(CActiveXControl, IQuickActivate),
    INTERFACE_ENTRY(CActiveXControl, IObjectWithSite),
};

HRESULT NewMemoryStream(CInterfacePtr<IStream>* stream)
{
    return CreateStreamOnHGlobal(nullptr, TRUE, stream->Put());
}

HRESULT Rewind(IStream* stream)
{
    LARGE_INTEGER zero = {};
    return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

HRESULT StreamSize(IStream* stream, ULARGE_INTEGER* size)
{
    STATSTG stat = {};
    RETURN_IF_FAILED(stream->Stat(&stat, STATFLAG_NONAME));
    *size = stat.cbSize;
    return S_OK;
}

}  // namespace

CActiveXControl::CActiveXControl(const ClassRow& row, const ControlClass& controlClass)
    : m_row(row),
      m_class(controlClass), m_eventPoint(*this, *controlClass.eventIid), m_extent{kDefaultExtentX, kDefaultExtentY}
{
}

CActiveXControl::~CActiveXControl()
{
    m_eventPoint.UnadviseAll();
}

// ---- IUnknown --------------------------------------------------------------

HRESULT CActiveXControl::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (ppv && IsEqualIID(riid, *m_class.dispatchIid))
        return QueryInterfaceFromTable(this, kInterfaces, IID_IDispatch, ppv);
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

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
        m_clientSite->SaveObject();
    InPlaceDeactivate();
    if (m_adviseHolder)
        m_adviseHolder->SendOnClose();
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
    return m_clientSite->GetMoniker(assign, which, moniker);
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
    return OleRegEnumVerbs(*m_row.clsid, verbs);
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
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = *m_row.clsid;
    return S_OK;
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
    return m_adviseHolder->Advise(sink, connection);
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
        HRESULT hr = site->GetWindow(&parent);
        if (SUCCEEDED(hr))
            hr = site->GetWindowContext(m_frame.Put(), m_document.Put(), &position, &clip, &frameInfo);
        // The window's creation runs the control's WM_CREATE handler.
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
    m_inPlaceSite->OnUIActivate();
    IOleInPlaceActiveObject* active = this;
    if (m_frame) {
        m_frame->SetActiveObject(active, nullptr);
        m_frame->SetBorderSpace(nullptr);
    }
    if (m_document) {
        m_document->SetActiveObject(active, nullptr);
        m_document->SetBorderSpace(nullptr);
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
        site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CActiveXControl::UIDeactivate()
{
    if (!m_uiActive)
        return S_OK;
    m_uiActive = false;
    if (m_frame)
        m_frame->SetActiveObject(nullptr, nullptr);
    if (m_document)
        m_document->SetActiveObject(nullptr, nullptr);
    if (m_inPlaceSite)
        m_inPlaceSite->OnUIDeactivate(FALSE);
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

// ---- IViewObject2 ------------------------------------------------------------

STDMETHODIMP CActiveXControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw, LPCRECTL bounds,
                                   LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
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

// ---- IDataObject -------------------------------------------------------------

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

// ---- Persistence -------------------------------------------------------------

void CActiveXControl::DoPropExchange(CPropExchange& exchange)
{
    exchange.Long("_ExtentX", m_extent.cx);
    exchange.Long("_ExtentY", m_extent.cy);
}

void CActiveXControl::ExchangeVersion(CPropExchange& exchange, DWORD current)
{
    exchange.Version(m_loadedVersion, current);
}

HRESULT CActiveXControl::Exchange(CPropExchange exchange)
{
    return ExceptionBoundary([&] {
        DoPropExchange(exchange);
        return exchange.Result();
    });
}

HRESULT CActiveXControl::LoadStreamKeepingState(IStream* stream)
{
    // A stream that breaks off half-way must not leave half a state behind.
    CInterfacePtr<IStream> backup;
    RETURN_IF_FAILED(NewMemoryStream(&backup));
    RETURN_IF_FAILED(Exchange(CPropExchange::StreamSaver(backup.Get())));
    const DWORD version = m_loadedVersion;
    const HRESULT hr = Exchange(CPropExchange::StreamLoader(stream));
    if (FAILED(hr)) {
        Rewind(backup.Get());
        Exchange(CPropExchange::StreamLoader(backup.Get()));
        m_loadedVersion = version;
        return hr;
    }
    m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetClassID(CLSID* clsid)
{
    RETURN_HR_IF_NULL(E_POINTER, clsid);
    *clsid = *m_row.clsid;
    return S_OK;
}

STDMETHODIMP CActiveXControl::IsDirty()
{
    return m_modified ? S_OK : S_FALSE;
}

STDMETHODIMP CActiveXControl::Load(IStream* stream)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    return LoadStreamKeepingState(stream);
}

STDMETHODIMP CActiveXControl::Save(IStream* stream, BOOL clearDirty)
{
    RETURN_HR_IF_NULL(E_POINTER, stream);
    RETURN_IF_FAILED(Exchange(CPropExchange::StreamSaver(stream)));
    if (clearDirty)
        m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetSizeMax(ULARGE_INTEGER* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(NewMemoryStream(&stream));
    RETURN_IF_FAILED(Exchange(CPropExchange::StreamSaver(stream.Get())));
    return StreamSize(stream.Get(), size);
}

STDMETHODIMP CActiveXControl::InitNew()
{
    RETURN_IF_FAILED(Exchange(CPropExchange::Resetter()));
    m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::Load(IPropertyBag* bag, IErrorLog* log)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    RETURN_IF_FAILED(Exchange(CPropExchange::BagLoader(bag, log)));
    m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, bag);
    RETURN_IF_FAILED(Exchange(CPropExchange::BagSaver(bag)));
    if (clearDirty)
        m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::InitNew(IStorage* storage)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    return InitNew();
}

STDMETHODIMP CActiveXControl::Load(IStorage* storage)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.Put()));
    return Load(stream.Get());
}

STDMETHODIMP CActiveXControl::Save(IStorage* storage, BOOL)
{
    RETURN_HR_IF_NULL(E_POINTER, storage);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(storage->CreateStream(kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                           stream.Put()));
    return Save(stream.Get(), FALSE);
}

STDMETHODIMP CActiveXControl::SaveCompleted(IStorage*)
{
    m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::HandsOffStorage()
{
    return S_OK;
}

STDMETHODIMP CActiveXControl::Load(LPVOID memory, ULONG size)
{
    RETURN_HR_IF_NULL(E_POINTER, memory);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(NewMemoryStream(&stream));
    RETURN_IF_FAILED(stream->Write(memory, size, nullptr));
    RETURN_IF_FAILED(Rewind(stream.Get()));
    return Load(stream.Get());
}

STDMETHODIMP CActiveXControl::Save(LPVOID memory, BOOL clearDirty, ULONG size)
{
    RETURN_HR_IF_NULL(E_POINTER, memory);
    CInterfacePtr<IStream> stream;
    RETURN_IF_FAILED(NewMemoryStream(&stream));
    RETURN_IF_FAILED(Exchange(CPropExchange::StreamSaver(stream.Get())));
    ULARGE_INTEGER saved = {};
    RETURN_IF_FAILED(StreamSize(stream.Get(), &saved));
    RETURN_HR_IF(STG_E_MEDIUMFULL, saved.QuadPart > size);
    RETURN_IF_FAILED(Rewind(stream.Get()));
    RETURN_IF_FAILED(stream->Read(memory, static_cast<ULONG>(saved.QuadPart), nullptr));
    if (clearDirty)
        m_modified = false;
    return S_OK;
}

STDMETHODIMP CActiveXControl::GetSizeMax(ULONG* size)
{
    RETURN_HR_IF_NULL(E_POINTER, size);
    ULARGE_INTEGER large = {};
    RETURN_IF_FAILED(GetSizeMax(&large));
    *size = static_cast<ULONG>(large.QuadPart);
    return S_OK;
}

// ---- IDispatch ---------------------------------------------------------------

HRESULT CActiveXControl::GetTypeLib(LCID lcid, ITypeLib** typeLib) const
{
    const TypeLibrary& library = *m_row.typeLibrary;
    return LoadRegTypeLib(*library.id, library.major, library.minor, lcid, typeLib);
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
    return typeLib->GetTypeInfoOfGuid(*m_class.dispatchIid, typeInfo);
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
        if (FAILED(VariantChangeType(text.Put(), &params->rgvarg[0], 0, VT_BSTR))) {
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
    return ExceptionBoundary([&] { return InvokeMember(*member, flags, params, result, argumentError); });
}

// ---- IProvideClassInfo2, connection points, pages, quick activation, site ------

STDMETHODIMP CActiveXControl::GetClassInfo(ITypeInfo** typeInfo)
{
    RETURN_HR_IF_NULL(E_POINTER, typeInfo);
    *typeInfo = nullptr;
    CInterfacePtr<ITypeLib> typeLib;
    RETURN_IF_FAILED(GetTypeLib(LOCALE_NEUTRAL, typeLib.Put()));
    return typeLib->GetTypeInfoOfGuid(*m_row.clsid, typeInfo);
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
    RETURN_HR_IF(E_INVALIDARG, container->cbSize < offsetof(QACONTAINER, pUnkEventSink) + sizeof(IUnknown*) ||
                                   control->cbSize < sizeof(QACONTROL));
    RETURN_IF_FAILED(SetClientSite(container->pClientSite));
    if (container->pAdviseSink)
        SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    // A sink that cannot be connected gets no cookie, but the activation
    // goes on: the host learns from cookie 0 that nothing is connected, as
    // a later Advise of its own would tell it.
    DWORD cookie = 0;
    if (container->pUnkEventSink && FAILED(m_eventPoint.Advise(container->pUnkEventSink, &cookie)))
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
    if (m_clientSite && SUCCEEDED(m_clientSite.As(&controlSite)) &&
        controlSite->ShowPropertyFrame() == S_OK)
        return S_OK;
    const ResourceText name = LoadResourceText(m_row.typeNameId);
    const CBstr caption(SysAllocStringLen(name.text, name.length));
    RETURN_HR_IF(E_OUTOFMEMORY, !caption);
    IUnknown* self = Identity();
    return OleCreatePropertyFrame(parent, 0, 0, caption.Get(), 1, &self, m_class.propertyPageCount,
                                  const_cast<CLSID*>(m_class.propertyPages), GetUserDefaultLCID(), 0, nullptr);
}

// ---- Window ------------------------------------------------------------------

void CActiveXControl::OnDraw(HDC, const RECT&) {}

LRESULT CActiveXControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE:
        // The window holds the object; PostNcDestroy lets go.
        Identity()->AddRef();
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(m_hWnd, &paint);
        RECT client;
        GetClientRect(m_hWnd, &client);
        OnDraw(dc, client);
        EndPaint(m_hWnd, &paint);
        return 0;
    }
    default:
        break;
    }
    return CWindow::WindowProc(message, wParam, lParam);
}

void CActiveXControl::PostNcDestroy()
{
    Identity()->Release();
}
