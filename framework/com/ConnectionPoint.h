// The connection point of a control's event interface. It is part of the
// control (its references are the control's) and keeps the advised sinks;
// the control fires nothing through it unless it has events. Held as a
// CComPart.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "framework/com/ComObject.h"

class CConnectionPoint : public IConnectionPoint {
public:
    // container: the control's identity; eventIid: the event interface.
    CConnectionPoint(IConnectionPointContainer& container, const IID& eventIid);
    ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    const IID& EventIid() const { return m_eventIid; }
    // Releases every sink (the control is going away).
    void UnadviseAll();

    // Its own interfaces; its references are the container's.
    INTERFACE_TABLE(INTERFACE_ENTRY(CConnectionPoint, IUnknown), INTERFACE_ENTRY(CConnectionPoint, IConnectionPoint))
    IUnknown* Owner() const { return &m_container; }
    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // An enumerator over this one connection point, for
    // IConnectionPointContainer::EnumConnectionPoints.
    HRESULT Enumerate(IEnumConnectionPoints** points);

private:
    struct Sink {
        DWORD cookie;
        IUnknown* sink;
    };
    IConnectionPointContainer& m_container;
    const IID& m_eventIid;
    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;
};
