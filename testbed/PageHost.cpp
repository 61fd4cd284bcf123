// A small browser stand-in: opens an HTML page, finds its <object> element
// and hosts that control in place in a top-level window with the page's
// title, the way browsers do it:
//
//   1. create the control by its class id;
//   2. give it the client site first when it asks for that (misc status);
//      the site offers the page's address as browsers do, through the web
//      browser service (the top page) and the container's document (the
//      frame);
//   3. ask IObjectSafety that it is safe for scripting (IDispatch) and for
//      initialisation from the page (IPersistPropertyBag); refuse it if not;
//   4. load the <param> values through IPersistPropertyBag;
//   5. activate it in place in the page window.
//
//   PageHost.exe [options] <page.html | http://address> [seconds]
//
//   --top=URL|none    the address the web browser service gives (default: the
//                     page's own; a file's is file:///...); none: no service
//   --frame=URL|none  the same for the container's document
//   --unsafe          load and activate a control that refuses the page, as
//                     a browser set to run unsafe controls would
//
// Exit codes: 0 the page window was ended (by the control), 1 it was still
// open after the given time (default 60 s), 2 bad page, 3 control refused,
// 4 control could not be created or activated.
#include <windows.h>

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <servprov.h>
#include <shlguid.h>
#include <wininet.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "framework/net/HttpFile.h"
#include "framework/net/InternetSession.h"
#include "testbed/BrowserStandIn.h"
#include "testbed/PageParser.h"

namespace {

// Page text is UTF-8; addresses given on the command line are in the ANSI code page.
std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8)
{
    std::wstring wide(MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(wide.empty() ? 0 : wide.size() - 1);
    return wide;
}

// What the page host was asked to open, and how to present it.
struct Options {
    std::string page;  // file or http address
    DWORD seconds = 60;
    bool unsafe = false;
    const char* top = nullptr;  // null: the page's own address
    const char* frame = nullptr;
};

// The page's <param> list as a property bag.
class CParamBag : public IPropertyBag {
public:
    explicit CParamBag(const PageObject& page) : m_page(page) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
            *object = static_cast<IPropertyBag*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }  // lives on the stack

    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        if (!name || !value)
            return E_POINTER;
        for (const auto& param : m_page.params) {
            if (_wcsicmp(Wide(param.first).c_str(), name) != 0)
                continue;
            VARIANT text;
            text.vt = VT_BSTR;
            text.bstrVal = SysAllocString(Wide(param.second).c_str());
            const VARTYPE wanted = value->vt == VT_EMPTY ? static_cast<VARTYPE>(VT_BSTR) : value->vt;
            VariantInit(value);
            HRESULT hr = VariantChangeType(value, &text, 0, wanted);
            VariantClear(&text);
            return hr;
        }
        return E_INVALIDARG;
    }
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }

private:
    const PageObject& m_page;
    ULONG m_refs = 1;
};

// The page: client site, in-place site and frame in one object; it offers
// the browser and the document when they are given.
class CPageSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame, public IServiceProvider {
public:
    CPageSite(HWND window, CBrowserStandIn* browser, CDocumentStandIn* document)
        : m_window(window), m_browser(browser), m_document(document)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IServiceProvider)
            *object = static_cast<IServiceProvider*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }  // lives on the stack

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = m_document;
        return m_document ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = m_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        SetRect(position, 10, 34, 310, 134);
        GetClientRect(m_window, clip);
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = m_window;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** object) override
    {
        *object = nullptr;
        return m_browser ? m_browser->QueryService(service, riid, object) : E_NOINTERFACE;
    }

private:
    HWND m_window;
    CBrowserStandIn* m_browser;
    CDocumentStandIn* m_document;
    ULONG m_refs = 1;
};

// Browsers load only controls that say they are safe for both.
bool IsSafeForThePage(IUnknown* control)
{
    IObjectSafety* safety = nullptr;
    if (FAILED(control->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety))))
        return false;
    const bool safe = SUCCEEDED(safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                                  INTERFACESAFE_FOR_UNTRUSTED_CALLER)) &&
        SUCCEEDED(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                                    INTERFACESAFE_FOR_UNTRUSTED_DATA));
    safety->Release();
    return safe;
}

LRESULT CALLBACK PageWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// The page's own address: the http address it was fetched from, or the
// file:/// address of its file.
std::string PageAddress(const std::string& page)
{
    if (page.compare(0, 7, "http://") == 0 || page.compare(0, 8, "https://") == 0)
        return page;
    char full[MAX_PATH];
    if (!GetFullPathNameA(page.c_str(), MAX_PATH, full, nullptr))
        return "file:///" + page;
    std::string address = std::string("file:///") + full;
    for (char& c : address) {
        if (c == '\\')
            c = '/';
    }
    return address;
}

// The page's text from its file or its http address; false when there is none.
bool ReadPage(const std::string& page, std::string& html)
{
    if (PageAddress(page) != page) {
        std::ifstream in(page, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        html = text.str();
        return static_cast<bool>(in);
    }
    CInternetSession session("PageHost", 1, INTERNET_OPEN_TYPE_DIRECT);
    CHttpFile file;
    DWORD status = 0;
    if (!session.IsOpen() || session.OpenUrl(page.c_str(), INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, file) ||
        file.QueryStatusCode(status) || status != 200)
        return false;
    char block[8192];
    for (DWORD read = 0;;) {
        if (file.Read(block, sizeof block, read))
            return false;
        if (!read)
            return true;
        html.append(block, read);
    }
}

int Run(const PageObject& page, const Options& options)
{
    CLSID clsid;
    if (FAILED(CLSIDFromString(Wide(page.classId).c_str(), &clsid))) {
        std::fprintf(stderr, "page: bad class id %s\n", page.classId.c_str());
        return 2;
    }
    IUnknown* control = nullptr;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control));
    if (FAILED(hr)) {
        std::fprintf(stderr, "page: cannot create %s (0x%08lx)\n", page.classId.c_str(), hr);
        return 4;
    }

    WNDCLASSW wc = {};
    wc.lpfnWndProc = &PageWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VantorimaPageHost";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, Wide(page.title).c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 80,
                                  60, 720, 480, nullptr, nullptr, wc.hInstance, nullptr);
    const std::string address = PageAddress(options.page);
    // The address bar, as people see it in a browser.
    CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", Wide(address, CP_ACP).c_str(), WS_CHILD | WS_VISIBLE | ES_READONLY, 0, 0,
                    704, 24, window, nullptr, wc.hInstance, nullptr);
    const auto offered = [&](const char* given) { return given ? std::string(given) : address; };
    CBrowserStandIn browser(Wide(offered(options.top), CP_ACP));
    CDocumentStandIn document(Wide(offered(options.frame), CP_ACP));
    const bool noTop = options.top && std::string(options.top) == "none";
    const bool noFrame = options.frame && std::string(options.frame) == "none";
    CPageSite site(window, noTop ? nullptr : &browser, noFrame ? nullptr : &document);

    IOleObject* object = nullptr;
    IPersistPropertyBag* persist = nullptr;
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object));
    control->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&persist));
    DWORD misc = 0;
    if (object) {
        object->GetMiscStatus(DVASPECT_CONTENT, &misc);
        if (misc & OLEMISC_SETCLIENTSITEFIRST)
            object->SetClientSite(&site);
    }
    // Browsers ask once the control knows its site, and so its page.
    int result = 4;
    if (!IsSafeForThePage(control)) {
        std::printf("page: control %s is not safe for scripting and initialisation: %s\n", page.classId.c_str(),
                    options.unsafe ? "loaded all the same" : "refused");
        std::fflush(stdout);
        if (!options.unsafe)
            result = 3;
    }
    if (object && persist && result != 3) {
        CParamBag bag(page);
        persist->InitNew();
        hr = persist->Load(&bag, nullptr);
        if (!(misc & OLEMISC_SETCLIENTSITEFIRST))
            object->SetClientSite(&site);
        RECT position = {10, 34, 310, 134};
        if (SUCCEEDED(hr))
            hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, window, &position);
        if (SUCCEEDED(hr)) {
            std::printf("page: \"%s\" at %s: control loaded with %u parameters and active\n", page.title.c_str(),
                        address.c_str(), static_cast<unsigned>(page.params.size()));
            std::fflush(stdout);
            const DWORD start = GetTickCount();
            while (IsWindow(window) && GetTickCount() - start < options.seconds * 1000) {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            }
            result = IsWindow(window) ? 1 : 0;
            std::printf(result ? "page: still open after %lu s\n" : "page: the control ended the page window\n",
                        options.seconds);
        } else {
            std::fprintf(stderr, "page: the control could not be loaded or activated (0x%08lx)\n", hr);
        }
    }
    if (object) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
    }
    if (persist)
        persist->Release();
    if (object)
        object->Release();
    control->Release();
    if (IsWindow(window))
        DestroyWindow(window);
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--unsafe")
            options.unsafe = true;
        else if (arg.compare(0, 6, "--top=") == 0)
            options.top = argv[i] + 6;
        else if (arg.compare(0, 8, "--frame=") == 0)
            options.frame = argv[i] + 8;
        else if (positional++ == 0)
            options.page = arg;
        else
            options.seconds = std::strtoul(argv[i], nullptr, 10);
    }
    if (options.page.empty()) {
        std::fprintf(stderr,
                     "usage: PageHost [--top=URL|none] [--frame=URL|none] [--unsafe] <page.html | "
                     "http://address> [seconds]\n");
        return 2;
    }
    std::string html;
    const bool read = ReadPage(options.page, html);
    const PageObject page = ParsePage(html);
    if (!read || !page.found) {
        std::fprintf(stderr, "page: no <object classid=\"clsid:...\"> in %s\n", options.page.c_str());
        return 2;
    }
    OleInitialize(nullptr);
    int result = Run(page, options);
    OleUninitialize();
    return result;
}
