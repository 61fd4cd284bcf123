// The control's IObjectSafety: safe for scripting through IDispatch and safe
// for initialisation through its persistence interfaces, and nothing else.
// The answers depend only on the arguments; nothing is recorded.
//
// A part of the control: its IUnknown is the control's.
#pragma once

#include <windows.h>
#include <objsafe.h>

class CObjectSafety : public IObjectSafety {
public:
    explicit CObjectSafety(IUnknown& owner) : m_owner(owner) {}
    CObjectSafety(const CObjectSafety&) = delete;
    CObjectSafety& operator=(const CObjectSafety&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_owner.QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return m_owner.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_owner.Release(); }

    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

private:
    bool OwnerImplements(REFIID riid);

    IUnknown& m_owner;
};
