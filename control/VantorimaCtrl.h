// The control that a page embeds: four string properties with the user's
// sign-in data, an About box, a property page, no events, no picture of its
// own. Its window's creation runs the launch sequence, which it holds; the
// completion message, which it posts itself once the launch has handed over,
// ends the host.
#pragma once

#include "control/SiteLock.h"
#include "framework/activex/ActiveXControl.h"
#include "framework/activex/ObjectSafety.h"
#include "framework/com/ComObject.h"
#include "launch/LaunchSequence.h"

class CVantorimaCtrl : public CActiveXControl {
public:
    explicit CVantorimaCtrl(const ClassRow& row);

    HRESULT InternalQueryInterface(REFIID riid, void** ppv) override;
    // Only pages the site lock allows; a host that asks about safety must
    // from then on offer an allowed address.
    bool SiteMayUseControl() override;

    // The About box, modal; returns when the user closes it.
    void AboutBox();

    // The version of the saved properties: major 1, minor 0.
    static constexpr DWORD kVersion = 0x00010000;
    // Set the client site first; activate in place (and so create the window)
    // as soon as visible; inside-out; cannot link inside; recompose on
    // resize. Registration writes the same status.
    static constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
        OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;

protected:
    void DoPropExchange(CPropExchange& exchange) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static const DispatchMember kDispatchMembers[];
    static const InterfaceEntry kInterfaces[];
    static const ControlClass kClass;

    // A changed property only marks the control modified.
    void OnStrIDChanged() { SetModifiedFlag(); }
    void OnStrPassChanged() { SetModifiedFlag(); }
    void OnKeyChanged() { SetModifiedFlag(); }
    void OnStrServerChanged() { SetModifiedFlag(); }

    LaunchProperties m_properties;
    CLaunchSequence m_launch;
    CSiteLock m_siteLock;
    CComPart<CObjectSafety> m_xObjectSafety;
};
