#include "framework/com/ConnectionPoint.h"

#include <olectl.h>

#include "framework/com/ComObject.h"
#include "framework/com/InterfacePtr.h"

namespace {

// Enumerates one connection point; holds a reference to it (and so to the
// control) while it lives.
class CSinglePointEnum : public IEnumConnectionPoints {
public:
    explicit CSinglePointEnum(IConnectionPoint* point, ULONG position = 0) : m_point(point), m_position(position) {}

    INTERFACE_TABLE(INTERFACE_ENTRY(CSinglePointEnum, IUnknown),
                    INTERFACE_ENTRY(CSinglePointEnum, IEnumConnectionPoints))
    STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override
    {
        RETURN_HR_IF_NULL(E_POINTER, points);
        RETURN_HR_IF(E_INVALIDARG, count > 1 && !fetched);
        ULONG done = 0;
        if (count > 0 && m_position == 0) {
            points[0] = m_point.Get();
            m_point->AddRef();
            m_position = 1;
            done = 1;
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        const bool enough = m_position + count <= 1;
        m_position = enough ? m_position + count : 1;
        return enough ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumConnectionPoints** clone) override
    {
        RETURN_HR_IF_NULL(E_POINTER, clone);
        return CreateInstance<CSinglePointEnum>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(clone),
                                                m_point.Get(), m_position);
    }

private:
    CInterfacePtr<IConnectionPoint> m_point;
    ULONG m_position;
};

}  // namespace

CConnectionPoint::CConnectionPoint(IConnectionPointContainer& container, const IID& eventIid)
    : m_container(container), m_eventIid(eventIid)
{
}

CConnectionPoint::~CConnectionPoint()
{
    UnadviseAll();
}

void CConnectionPoint::UnadviseAll()
{
    std::vector<Sink> sinks;
    sinks.swap(m_sinks);
    for (const Sink& sink : sinks)
        sink.sink->Release();
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid)
{
    RETURN_HR_IF_NULL(E_POINTER, iid);
    *iid = m_eventIid;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    RETURN_HR_IF_NULL(E_POINTER, container);
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    *cookie = 0;
    RETURN_HR_IF_NULL(E_POINTER, sink);
    // The sink must speak the event interface (or plain IDispatch).
    IUnknown* events = nullptr;
    RETURN_HR_IF(CONNECT_E_CANNOTCONNECT,
                 FAILED(sink->QueryInterface(m_eventIid, reinterpret_cast<void**>(&events))) &&
                     FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))));
    const HRESULT hr = EXCEPTION_BOUNDARY([&] {
        m_sinks.push_back({m_nextCookie, events});
        return S_OK;
    });
    if (FAILED(hr)) {
        events->Release();
        return hr;
    }
    *cookie = m_nextCookie++;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie)
{
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            IUnknown* sink = it->sink;
            m_sinks.erase(it);
            sink->Release();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    RETURN_HR_IF_NULL(E_POINTER, connections);
    *connections = nullptr;
    return E_NOTIMPL;
}

HRESULT CConnectionPoint::Enumerate(IEnumConnectionPoints** points)
{
    RETURN_HR_IF_NULL(E_POINTER, points);
    return CreateInstance<CSinglePointEnum>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(points), this);
}
