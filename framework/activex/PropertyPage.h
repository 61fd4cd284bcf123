// The base of a property page: a child dialog from a template that a property
// frame (OleCreatePropertyFrame or a host's own) shows for a set of objects.
// Made as a CComObject.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "framework/com/ClassObject.h"
#include "framework/com/InterfacePtr.h"

class CPropertyPage : public IPropertyPage {
public:
    CPropertyPage(const ClassRow& row, UINT templateId, UINT captionId);
    virtual ~CPropertyPage();
    CPropertyPage(const CPropertyPage&) = delete;
    CPropertyPage& operator=(const CPropertyPage&) = delete;

    INTERFACE_TABLE(INTERFACE_ENTRY(CPropertyPage, IUnknown), INTERFACE_ENTRY(CPropertyPage, IPropertyPage))
    // IPropertyPage
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT command) override;
    STDMETHODIMP Move(LPCRECT rect) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR helpDir) override;
    STDMETHODIMP TranslateAccelerator(MSG* msg) override;

    const CLSID& ClassId() const { return m_clsid; }

protected:
    // Moves the page's values between its controls and the objects: true
    // saves into the objects. The base binds nothing.
    virtual void DoDataExchange(bool save);

    HWND m_hDlg = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreatePage(HWND parent);

    const CLSID& m_clsid;
    UINT m_templateId;
    UINT m_captionId;
    CInterfacePtr<IPropertyPageSite> m_site;
    std::vector<CInterfacePtr<IUnknown>> m_objects;
};
