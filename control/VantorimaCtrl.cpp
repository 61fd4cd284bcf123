#include "control/VantorimaCtrl.h"

#include "BuildConfig.h"
#include "control/AboutBox.h"
#include "control/ClassIds.h"
#include "control/CompletionMessage.h"
#include "dialog/DownLoadDlg.h"
#include "framework/com/ComObject.h"
#include "res/Resource.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

CVantorimaCtrl& Control(CActiveXControl& control)
{
    return static_cast<CVantorimaCtrl&>(control);
}

const CLSID kPropertyPages[] = {CLSID_VantorimaPropPage};

}  // namespace

// The members of _DVantorima, in the type library's order.
const DispatchMember CVantorimaCtrl::kDispatchMembers[] = {
    {1, L"strID", [](CActiveXControl& c) -> std::string& { return Control(c).m_properties.strID; },
     [](CActiveXControl& c) { Control(c).OnStrIDChanged(); }},
    {2, L"strPass", [](CActiveXControl& c) -> std::string& { return Control(c).m_properties.strPass; },
     [](CActiveXControl& c) { Control(c).OnStrPassChanged(); }},
    {3, L"key", [](CActiveXControl& c) -> std::string& { return Control(c).m_properties.key; },
     [](CActiveXControl& c) { Control(c).OnKeyChanged(); }},
    {4, L"strServer", [](CActiveXControl& c) -> std::string& { return Control(c).m_properties.strServer; },
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
    : CActiveXControl(row, kClass)
    , m_launch([this] { PostCompletion(GetSafeHwnd()); }, CDownLoadDlg::Open)
    , m_siteLock(VANTORIMA_ALLOWED_SITES)
    , m_xObjectSafety(*this)
{
}

bool CVantorimaCtrl::SiteMayUseControl()
{
    m_siteLock.NoteSafetyQuestion();
    if (m_siteLock.Allows(HostSite()))
        return true;
    TraceOut(TraceLine::kSafetyPageRefused, m_siteLock.RefusedPage().c_str());
    return false;
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
    exchange.String("strID", m_properties.strID);
    exchange.String("strPass", m_properties.strPass);
    exchange.String("key", m_properties.key);
    exchange.String("strServer", m_properties.strServer);
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
            m_launch.Launch(GetSafeHwnd(), m_properties);
        else
            TraceOut(TraceLine::kPageRefused, m_siteLock.RefusedPage().c_str());
        return 0;
    case kCompletionMessage: {
        // Ending the host's window makes the host release this control: it
        // must outlive the handler.
        CInterfacePtr<IOleObject> keepAlive(this);
        m_launch.OnNotifyChild(GetSafeHwnd());
        return 0;
    }
    default:
        return CActiveXControl::WindowProc(message, wParam, lParam);
    }
}
