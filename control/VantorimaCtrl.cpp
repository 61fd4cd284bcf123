#include "control/VantorimaCtrl.h"

#include "BuildConfig.h"
#include "control/AboutBox.h"
#include "control/ClassIds.h"
#include "control/VantorimaApp.h"
#include "framework/ComObject.h"
#include "res/Resource.h"
#include "support/Trace.h"
#include "updater/CompletionMessage.h"

namespace {

CVantorimaCtrl& Control(CActiveXControl& control)
{
    return static_cast<CVantorimaCtrl&>(control);
}

const CLSID kPropertyPages[] = {CLSID_VantorimaPropPage};

}  // namespace

// The members of _DVantorima, in the type library's order.
const DispatchMember CVantorimaCtrl::kDispatchMembers[] = {
    {1, L"strID", [](CActiveXControl& c) -> std::string& { return Control(c).m_strID; },
     [](CActiveXControl& c) { Control(c).OnStrIDChanged(); }},
    {2, L"strPass", [](CActiveXControl& c) -> std::string& { return Control(c).m_strPass; },
     [](CActiveXControl& c) { Control(c).OnStrPassChanged(); }},
    {3, L"key", [](CActiveXControl& c) -> std::string& { return Control(c).m_key; },
     [](CActiveXControl& c) { Control(c).OnKeyChanged(); }},
    {4, L"strServer", [](CActiveXControl& c) -> std::string& { return Control(c).m_strServer; },
     [](CActiveXControl& c) { Control(c).OnStrServerChanged(); }},
    {DISPID_ABOUTBOX, L"AboutBox", nullptr, [](CActiveXControl& c) { Control(c).AboutBox(); }},
};

// Interfaces beyond those of the control base: the object-safety part.
const InterfaceEntry CVantorimaCtrl::kInterfaces[] = {
    {&IID_IObjectSafety,
     [](void* object) -> IUnknown* { return &static_cast<CVantorimaCtrl*>(object)->m_xObjectSafety; }},
};

const ControlClass CVantorimaCtrl::kClass = {
    .dispatchIid = &DIID__DVantorima,
    .eventIid = &DIID__DVantorimaEvents,
    .members = kDispatchMembers,
    .memberCount = sizeof kDispatchMembers / sizeof kDispatchMembers[0],
    .propertyPages = kPropertyPages,
    .propertyPageCount = 1,
};

CVantorimaCtrl::CVantorimaCtrl(const ClassRow& row)
    : CActiveXControl(row, kClass),
      CLaunchSequence(*g_vantorimaApp),
      m_siteLock(VANTORIMA_ALLOWED_SITES),
      m_xObjectSafety(*this, m_siteLock)
{
}

HRESULT CVantorimaCtrl::InternalQueryInterface(REFIID riid, void** ppv)
{
    const HRESULT hr = QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    return hr == E_NOINTERFACE ? CActiveXControl::InternalQueryInterface(riid, ppv) : hr;
}

void CVantorimaCtrl::AboutBox()
{
    CAboutBox().DoModal(nullptr);
}

void CVantorimaCtrl::DoPropExchange(CPropExchange& exchange)
{
    ExchangeVersion(exchange, kVersion);
    CActiveXControl::DoPropExchange(exchange);
    exchange.String("strID", m_strID);
    exchange.String("strPass", m_strPass);
    exchange.String("key", m_key);
    exchange.String("strServer", m_strServer);
}

LRESULT CVantorimaCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (CActiveXControl::WindowProc(message, wParam, lParam) == -1)
            return -1;
        // A page of another site gets nothing done: nothing written, nothing
        // started, nothing posted.
        if (m_siteLock.Allows(HostSite()))
            Launch(*this);
        else
            TraceOut("page refused: %s", m_siteLock.RefusedPage().c_str());
        return 0;
    case kCompletionMessage: {
        // Ending the host's window makes the host release this control: it
        // must outlive the handler.
        CInterfacePtr<IOleObject> keepAlive(this);
        OnNotifyChild(*this);
        return 0;
    }
    default:
        return CActiveXControl::WindowProc(message, wParam, lParam);
    }
}
