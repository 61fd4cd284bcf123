// The base of a windowed ActiveX control: the OLE embedding, in-place
// activation, view, persistence, dispatch and connection interfaces that
// hosts (browsers, ATL containers, script engines) ask a control for.
//
// A derived control is described by its class's row (class id, type library,
// misc status) and a ControlClass (dispatch members, property pages), saves
// and loads its properties in DoPropExchange, and handles its window's
// messages in WindowProc. The control's window exists while the control is in-place
// active; it is a child of the site's window. The object stays alive while
// its window exists, so a handler may end the host without the host's final
// Release pulling the object out from under it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "framework/com/ClassObject.h"
#include "framework/com/ComObject.h"
#include "framework/com/ConnectionPoint.h"
#include "framework/com/InterfacePtr.h"
#include "framework/activex/PropExchange.h"
#include "framework/win/Window.h"

class CActiveXControl;

// One member of the control's dispatch interface: a string property (get,
// put, then the change notification) or a method without parameters.
struct DispatchMember {
    DISPID id;
    const wchar_t* name;
    std::string& (*property)(CActiveXControl& control);  // null for a method
    void (*call)(CActiveXControl& control);  // after a put; the method itself
};

// What a control adds to its class's row: its dispatch and event interfaces,
// its dispatch members and its property pages.
struct ControlClass {
    const IID* dispatchIid = nullptr;
    const IID* eventIid = nullptr;
    const DispatchMember* members = nullptr;
    size_t memberCount = 0;
    const CLSID* propertyPages = nullptr;
    ULONG propertyPageCount = 0;
};

class CActiveXControl : public CWindow,
                        public IOleObject,
                        public IOleInPlaceObject,
                        public IOleInPlaceActiveObject,
                        public IOleControl,
                        public IViewObject2,
                        public IDataObject,
                        public IPersistStreamInit,
                        public IPersistPropertyBag,
                        public IPersistStorage,
                        public IPersistMemory,
                        public IDispatch,
                        public IProvideClassInfo2,
                        public IConnectionPointContainer,
                        public ISpecifyPropertyPages,
                        public IQuickActivate,
                        public IObjectWithSite {
public:
    // row: the class's registration row (class id, type library, misc
    // status, type name), which its class object gives.
    CActiveXControl(const ClassRow& row, const ControlClass& controlClass);
    ~CActiveXControl() override;

    // The interfaces of the object: the table of this base, then those a
    // derived class adds (it overrides this and calls the base last). The
    // object is made as a CComObject of the derived class.
    virtual HRESULT InternalQueryInterface(REFIID riid, void** ppv);
    // The object's IUnknown.
    IUnknown* Identity() { return static_cast<IOleObject*>(this); }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR container, LPCOLESTR object) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* userType) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow (through IOleInPlaceObject and IOleInPlaceActiveObject)
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
    // IOleInPlaceObject
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* msg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice, HDC draw,
                      LPCRECTL bounds, LPCRECTL windowBounds, BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR),
                      ULONG_PTR continueArgument) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                             LOGPALETTE** colorSet) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IDataObject: the control renders no data formats.
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advise) override;

    // IPersist (of all four persistence interfaces)
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    // IPersistStreamInit and IPersistStorage
    STDMETHODIMP IsDirty() override;
    // IPersistStreamInit
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    // IPersistPropertyBag
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
    // IPersistStorage
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;
    // IPersistMemory
    STDMETHODIMP Load(LPVOID memory, ULONG size) override;
    STDMETHODIMP Save(LPVOID memory, BOOL clearDirty, ULONG size) override;
    STDMETHODIMP GetSizeMax(ULONG* size) override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** typeInfo) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID riid, void** site) override;

    // The type library through its registration (LoadRegTypeLib).
    HRESULT GetTypeLib(LCID lcid, ITypeLib** typeLib) const;
    // Shows the property frame with the control's pages, owned by parent.
    HRESULT ShowPropertyFrame(HWND parent);
    // The host's site: the client site, or the IObjectWithSite site when
    // there is no client site; null when neither was given.
    IUnknown* HostSite() const;
    // Whether the page around HostSite() may script or initialise the
    // control; asked when a host wants the control made safe
    // (ObjectSafety.h). The base allows every page.
    virtual bool SiteMayUseControl() { return true; }

protected:
    // Saves, loads or resets the properties; the base exchanges its own part
    // (the extent). Derived controls exchange their version first, then call
    // the base, then their properties.
    virtual void DoPropExchange(CPropExchange& exchange);
    // Exchanges the control's version; loading records the version read.
    void ExchangeVersion(CPropExchange& exchange, DWORD current);
    // Paints the control into dc; the base paints nothing.
    virtual void OnDraw(HDC dc, const RECT& bounds);

    void SetModifiedFlag(bool modified = true) { m_modified = modified; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void PostNcDestroy() override;

private:
    // Saves, loads or resets; clean: the control is unmodified afterwards.
    HRESULT Exchange(CPropExchange exchange, bool clean = false);
    HRESULT SaveToMemory(CInterfacePtr<IStream>* stream);
    HRESULT InPlaceActivate(LONG verb);
    HRESULT UIActivate();
    const DispatchMember* FindMember(DISPID id) const;
    HRESULT InvokeMember(const DispatchMember& member, WORD flags, DISPPARAMS* params, VARIANT* result,
                         UINT* argumentError);

    const ClassRow& m_row;
    const ControlClass& m_class;
    CComPart<CConnectionPoint> m_eventPoint;

    CInterfacePtr<IOleClientSite> m_clientSite;
    CInterfacePtr<IOleInPlaceSite> m_inPlaceSite;
    CInterfacePtr<IOleInPlaceFrame> m_frame;
    CInterfacePtr<IOleInPlaceUIWindow> m_document;
    CInterfacePtr<IOleAdviseHolder> m_adviseHolder;
    CInterfacePtr<IAdviseSink> m_viewSink;
    DWORD m_viewAspects = 0;
    DWORD m_viewAdvf = 0;
    CInterfacePtr<IUnknown> m_site;

    SIZEL m_extent;  // HIMETRIC
    DWORD m_loadedVersion = 0;
    bool m_modified = false;
    bool m_inPlaceActive = false;
    bool m_uiActive = false;
};
