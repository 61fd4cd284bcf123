// The control base's identity, interface table and window; its interface
// groups are in ActiveXEmbedding.cpp, ActiveXView.cpp, ActiveXPersistence.cpp
// and ActiveXAutomation.cpp.
#include "framework/activex/ActiveXControl.h"

#include "framework/com/ComObject.h"

namespace {

// 100 x 50 pixels at 96 dpi, in HIMETRIC: the size before a host gives one.
constexpr LONG kDefaultExtentX = 2646;
constexpr LONG kDefaultExtentY = 1323;

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

}  // namespace

CActiveXControl::CActiveXControl(const ClassRow& row, const ControlClass& controlClass)
    : m_row(row)
    , m_class(controlClass)
    , m_eventPoint(*this, *controlClass.eventIid)
    , m_extent{kDefaultExtentX, kDefaultExtentY}
{
}

CActiveXControl::~CActiveXControl()
{
    m_eventPoint.UnadviseAll();
}

HRESULT CActiveXControl::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (ppv && IsEqualIID(riid, *m_class.dispatchIid))
        return QueryInterfaceFromTable(this, kInterfaces, IID_IDispatch, ppv);
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

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
