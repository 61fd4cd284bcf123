// Stand-ins for the two objects through which a browser tells a control
// where its page is: the web browser (the top page's address, reached as the
// SID_SWebBrowserApp service of the site) and the document that contains the
// control (the frame's address, reached as the site's container). Each
// answers its one question; every other method is a generated E_NOTIMPL.
//
// They live as long as the host that owns them; reference counts are not kept.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <shlguid.h>

#include <string>

#include "BrowserStubs.h"

class CBrowserStandIn : public IWebBrowser2Stubs {
public:
    explicit CBrowserStandIn(std::wstring address) : m_address(std::move(address)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        const bool ours = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWebBrowser ||
            riid == IID_IWebBrowserApp || riid == IID_IWebBrowser2;
        *object = ours ? static_cast<IWebBrowser2*>(this) : nullptr;
        return ours ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP get_LocationURL(BSTR* url) override
    {
        *url = SysAllocString(m_address.c_str());
        return *url ? S_OK : E_OUTOFMEMORY;
    }

    // A site's IServiceProvider::QueryService, for a site that offers this browser.
    HRESULT QueryService(REFGUID service, REFIID riid, void** object)
    {
        *object = nullptr;
        return service == SID_SWebBrowserApp ? QueryInterface(riid, object) : E_NOINTERFACE;
    }

private:
    std::wstring m_address;
};

class CDocumentStandIn : public IOleContainer, public IHTMLDocument2Stubs {
public:
    explicit CDocumentStandIn(std::wstring address) : m_address(std::move(address)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IParseDisplayName || riid == IID_IOleContainer)
            *object = static_cast<IOleContainer*>(this);
        else if (riid == IID_IDispatch || riid == IID_IHTMLDocument || riid == IID_IHTMLDocument2)
            *object = static_cast<IHTMLDocument2*>(this);
        else
            *object = nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP EnumObjects(DWORD, IEnumUnknown**) override { return E_NOTIMPL; }
    STDMETHODIMP LockContainer(BOOL) override { return S_OK; }
    STDMETHODIMP get_URL(BSTR* url) override
    {
        *url = SysAllocString(m_address.c_str());
        return *url ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::wstring m_address;
};
