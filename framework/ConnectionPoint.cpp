#include "framework/ConnectionPoint.h"

#include <olectl.h>

#include <new>

#include "framework/ComResult.h"
#include "framework/ModuleLock.h"

namespace {

// Enumerates one connection point; holds a reference to it (and so to the
// control) while it lives.
class CSinglePointEnum final : public IEnumConnectionPoints {
public:
    explicit CSinglePointEnum(IConnectionPoint* point, ULONG position = 0) : m_point(point), m_position(position)
    {
        m_point->AddRef();
    }
    ~CSinglePointEnum() { m_point->Release(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumConnectionPoints)) {
            *ppv = static_cast<IEnumConnectionPoints*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override
    {
        RETURN_HR_IF_NULL(E_POINTER, points);
        RETURN_HR_IF(E_INVALIDARG, count > 1 && !fetched);
        ULONG done = 0;
        if (count > 0 && m_position == 0) {
            points[0] = m_point;
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
        *clone = new (std::nothrow) CSinglePointEnum(m_point, m_position);
        return *clone ? S_OK : E_OUTOFMEMORY;
    }

private:
    CModuleLock m_moduleLock;
    LONG m_refs = 1;
    IConnectionPoint* m_point;
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

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    RETURN_HR_IF_NULL(E_POINTER, ppv);
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CConnectionPoint::AddRef()
{
    return m_container.AddRef();
}

STDMETHODIMP_(ULONG) CConnectionPoint::Release()
{
    return m_container.Release();
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
    if (FAILED(sink->QueryInterface(m_eventIid, reinterpret_cast<void**>(&events))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))))
        return CONNECT_E_CANNOTCONNECT;
    const HRESULT hr = ExceptionBoundary([&] {
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
    *points = new (std::nothrow) CSinglePointEnum(this);
    return *points ? S_OK : E_OUTOFMEMORY;
}
