// The control's IObjectSafety: safe for scripting through IDispatch and safe
// for initialisation through its persistence interfaces, and nothing else,
// and only for a page that the site lock allows. Apart from the site lock's
// note that the host asked, nothing is recorded.
//
// A part of the control: its IUnknown is the control's.
#pragma once

#include <windows.h>
#include <objsafe.h>

class CActiveXControl;
class CSiteLock;

class CObjectSafety : public IObjectSafety {
public:
    CObjectSafety(CActiveXControl& owner, CSiteLock& siteLock) : m_owner(owner), m_siteLock(siteLock) {}
    CObjectSafety(const CObjectSafety&) = delete;
    CObjectSafety& operator=(const CObjectSafety&) = delete;

    // The control's interfaces and references: held as a CComPart.
    HRESULT InternalQueryInterface(REFIID riid, void** ppv);
    IUnknown* Owner() const;

    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

private:
    bool OwnerImplements(REFIID riid);

    CActiveXControl& m_owner;
    CSiteLock& m_siteLock;
};
