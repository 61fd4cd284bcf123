// A safe control's IObjectSafety: safe for scripting through IDispatch and
// safe for initialisation through its persistence interfaces, and nothing
// else. A request to be made safe is granted only when the control says that
// the page around its site may use it (CActiveXControl::SiteMayUseControl);
// otherwise nothing is recorded: the answers depend on the arguments alone.
//
// A part of the control: its IUnknown is the control's.
#pragma once

#include <windows.h>
#include <objsafe.h>

class CActiveXControl;

class CObjectSafety : public IObjectSafety {
public:
    explicit CObjectSafety(CActiveXControl& owner) : m_owner(owner) {}
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
};
