// The control object without a host window: its properties through
// IDispatch, its persistence in every form hosts use, its object-safety
// answers and its one COM identity.
#include <windows.h>
#include <objsafe.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "BuildConfig.h"
#include "ControlTestSupport.h"
#include "VantorimaLib.h"
#include "WineTestSupport.h"
#include "control/SiteLock.h"
#include "testbed/BrowserStandIn.h"

using namespace control_test;

namespace {

// The site a browser gives an object through IObjectWithSite: its web
// browser service tells the page's address.
class CBrowserSite : public IServiceProvider {
public:
    explicit CBrowserSite(const wchar_t* address) : m_browser(address) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        const bool ours = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IServiceProvider);
        *ppv = ours ? this : nullptr;
        return ours ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override
    {
        return m_browser.QueryService(service, riid, ppv);
    }

private:
    CBrowserStandIn m_browser;
};

// A page's <param> list as browsers hand it over.
class CPropertyBag : public IPropertyBag {
public:
    std::map<std::wstring, std::wstring> values;
    std::map<std::wstring, VARTYPE> types;
    // Names that Read answers with success without writing anything, as
    // some bags do; and whether a variant came in with more than its type set.
    std::set<std::wstring> silent;
    bool uncleared = false;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override
    {
        if (silent.count(name)) {
            VARIANT cleared;
            ZeroMemory(&cleared, sizeof cleared);
            cleared.vt = value->vt;
            if (memcmp(&cleared, value, sizeof cleared) != 0) {
                uncleared = true;
                *value = cleared;  // so the control goes on without crashing
            }
            return S_OK;
        }
        auto found = values.find(name);
        if (found == values.end())
            return E_INVALIDARG;
        VARIANT text;
        text.vt = VT_BSTR;
        text.bstrVal = SysAllocString(found->second.c_str());
        const VARTYPE wanted = value->vt == VT_EMPTY ? static_cast<VARTYPE>(VT_BSTR) : value->vt;
        VariantInit(value);
        const HRESULT hr = VariantChangeType(value, &text, 0, wanted);
        VariantClear(&text);
        return hr;
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override
    {
        VARIANT text;
        VariantInit(&text);
        if (FAILED(VariantChangeType(&text, value, 0, VT_BSTR)))
            return E_FAIL;
        values[name] = std::wstring(text.bstrVal, SysStringLen(text.bstrVal));
        types[name] = value->vt;
        VariantClear(&text);
        return S_OK;
    }
};

// Points one import of a loaded module at another function for the life of
// the object, as a system whose export behaves differently would.
class CImportPatch {
public:
    CImportPatch(HMODULE module, const char* dll, const char* name, void* replacement)
    {
        auto* base = reinterpret_cast<BYTE*>(module);
        const auto* nt =
            reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
            if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0)
                continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                    strcmp(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, name))
                    continue;
                m_slot = &slots->u1.Function;
                m_original = *m_slot;
                Write(reinterpret_cast<decltype(m_original)>(replacement));
            }
        }
    }
    ~CImportPatch()
    {
        if (m_slot)
            Write(m_original);
    }
    bool Patched() const { return m_slot != nullptr; }

private:
    void Write(decltype(IMAGE_THUNK_DATA::u1.Function) value)
    {
        DWORD protection = 0;
        VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &protection);
        *m_slot = value;
        VirtualProtect(m_slot, sizeof *m_slot, protection, &protection);
    }
    decltype(IMAGE_THUNK_DATA::u1.Function)* m_slot = nullptr;
    decltype(IMAGE_THUNK_DATA::u1.Function) m_original = 0;
};

// VariantInit as systems before Windows 8.1 have it: only the type is set.
void WINAPI TypeOnlyVariantInit(VARIANTARG* value)
{
    value->vt = VT_EMPTY;
}

// An event sink as a host advises it: counts its references.
class CEventSink : public IDispatch {
public:
    LONG refs = 1;
    // False: a sink of some other interface, that no control can connect.
    bool speaksDispatch = true;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !(speaksDispatch && IsEqualIID(riid, IID_IDispatch)))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};

// The four strings of the saved stream form, read as it is laid out: the
// version and the two extents (32 bits each), then each string as its byte
// length (32 bits) and its bytes. False when the bytes end first.
bool ReadSavedStrings(const std::string& saved, std::vector<std::wstring>* strings)
{
    size_t at = 12;
    strings->clear();
    for (int i = 0; i < 4; ++i) {
        DWORD length = 0;
        if (saved.size() < at + sizeof length)
            return false;
        memcpy(&length, &saved[at], sizeof length);
        at += sizeof length;
        if (saved.size() - at < length)
            return false;
        std::wstring wide(length, L'\0');
        const int made = length
            ? MultiByteToWideChar(CP_ACP, 0, &saved[at], static_cast<int>(length), &wide[0], static_cast<int>(length))
            : 0;
        wide.resize(made);
        strings->push_back(wide);
        at += length;
    }
    return true;
}

class ControlObject : public ::testing::Test {
protected:
    CInterfacePtr<IDispatch> NewControl()
    {
        CInterfacePtr<IDispatch> control;
        EXPECT_EQ(module_.CreateControl(IID_IDispatch, control.PutVoid()), S_OK);
        return control;
    }
    void SetAll(IDispatch* control, const std::wstring& id, const std::wstring& pass, const std::wstring& key,
                const std::wstring& server)
    {
        EXPECT_EQ(PutString(control, L"strID", id), S_OK);
        EXPECT_EQ(PutString(control, L"strPass", pass), S_OK);
        EXPECT_EQ(PutString(control, L"key", key), S_OK);
        EXPECT_EQ(PutString(control, L"strServer", server), S_OK);
    }
    std::vector<std::wstring> All(IDispatch* control)
    {
        return {GetString(control, L"strID"), GetString(control, L"strPass"), GetString(control, L"key"),
                GetString(control, L"strServer")};
    }

    COleApartment apartment_;
    COcxModule module_;
    // Chinese (棋手), empty, and plain values.
    const std::vector<std::wstring> values_ = {L"\u68cb\u624b", L"", L"k 1", L"go.example:7000"};
};

}  // namespace

TEST_F(ControlObject, PropertiesReadBackWhatWasSetAndMarkTheControlModified)
{
    CInterfacePtr<IDispatch> control = NewControl();
    ASSERT_TRUE(control);
    EXPECT_EQ(All(control.Get()), (std::vector<std::wstring>{L"", L"", L"", L""}));
    CInterfacePtr<IPersistStreamInit> persist;
    ASSERT_EQ(control.As(&persist), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    SetAll(control.Get(), values_[0], values_[1], values_[2], values_[3]);
    EXPECT_EQ(All(control.Get()), values_);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    // A reset leaves the strings as they are.
    ASSERT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(All(control.Get()), values_);

    // A non-string value is taken as its text; a member by id; errors by the book.
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 7000;
    EXPECT_EQ(PutProperty(control.Get(), L"key", number), S_OK);
    EXPECT_EQ(GetString(control.Get(), L"key"), L"7000");
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(control->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    VariantClear(&result);
    EXPECT_EQ(control->Invoke(99, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(control->Invoke(1, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(control->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
    VARIANT unknown;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = control.Get();
    UINT badArgument = 99;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS one = {&unknown, &put, 1, 1};
    EXPECT_EQ(control->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &one, nullptr, nullptr, &badArgument),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(badArgument, 0u);
    EXPECT_EQ(control->Invoke(DISPID_ABOUTBOX, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr),
              DISP_E_BADPARAMCOUNT);
}

// The type library (res/Vantorima.idl) and the control's own dispatch table
// are written apart: every member of the library's dispatch interface must
// answer by its name, under its id, as its kind and type, and the control
// must answer no id the library does not name.
TEST_F(ControlObject, DispatchAnswersTheTypeLibraryMemberForMember)
{
    CInterfacePtr<ITypeLib> library;
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(module_.Handle(), path, MAX_PATH), 0u);
    ASSERT_EQ(LoadTypeLibEx(path, REGKIND_NONE, library.Put()), S_OK);
    CInterfacePtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(DIID__DVantorima, info.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    const WORD properties = attributes->cVars;
    const WORD methods = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    EXPECT_EQ(properties, 4);
    EXPECT_EQ(methods, 1);

    CInterfacePtr<IDispatch> control = NewControl();
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT extra;
    extra.vt = VT_I4;
    extra.lVal = 1;
    DISPPARAMS oneTooMany = {&extra, nullptr, 1, 0};
    std::set<MEMBERID> named;
    // The name resolves to the library's id, whatever its case.
    auto expectName = [&](MEMBERID id) {
        BSTR name = nullptr;
        UINT count = 0;
        EXPECT_EQ(info->GetNames(id, &name, 1, &count), S_OK);
        std::wstring text(name ? name : L"", SysStringLen(name));
        SysFreeString(name);
        std::wstring upper = text;
        CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
        for (const std::wstring& spelling : {text, upper}) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(spelling.c_str())};
            DISPID found = DISPID_UNKNOWN;
            EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_NEUTRAL, &found), S_OK) << spelling;
            EXPECT_EQ(found, id) << spelling;
        }
        named.insert(id);
        return text;
    };
    for (UINT i = 0; i < properties; ++i) {
        VARDESC* property = nullptr;
        ASSERT_EQ(info->GetVarDesc(i, &property), S_OK);
        const MEMBERID id = property->memid;
        const VARTYPE type = property->elemdescVar.tdesc.vt;
        info->ReleaseVarDesc(property);
        const std::wstring name = expectName(id);
        // Read as the library's type, written and read back.
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
        EXPECT_EQ(value.vt, type) << name;
        VariantClear(&value);
        EXPECT_EQ(PutString(control.Get(), name.c_str(), name), S_OK);
        EXPECT_EQ(GetString(control.Get(), name.c_str()), name);
    }
    for (UINT i = 0; i < methods; ++i) {
        FUNCDESC* method = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &method), S_OK);
        const MEMBERID id = method->memid;
        EXPECT_EQ(method->invkind, INVOKE_FUNC);
        EXPECT_EQ(method->elemdescFunc.tdesc.vt, VT_VOID);
        const SHORT parameters = method->cParams;
        info->ReleaseFuncDesc(method);
        const std::wstring name = expectName(id);
        // A method, not a property, taking exactly the library's parameters
        // (called with one more, it refuses before it runs).
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << name;
        EXPECT_EQ(parameters, 0) << name;
        EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &oneTooMany, nullptr, nullptr, nullptr),
                  DISP_E_BADPARAMCOUNT)
            << name;
    }
    // No member beyond the library's: every other id is unknown to both
    // ways of asking (the stock ids are negative, down to the About box's).
    for (DISPID id = -1000; id <= 1000; ++id) {
        if (named.count(id))
            continue;
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
        EXPECT_EQ(control->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &oneTooMany, nullptr, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
    }
}

TEST_F(ControlObject, OneIdentityBehindEveryInterface)
{
    CInterfacePtr<IDispatch> control = NewControl();
    CInterfacePtr<IUnknown> identity;
    ASSERT_EQ(control.As(&identity), S_OK);
    const IID* interfaces[] = {&IID_IOleObject,
                               &IID_IOleInPlaceObject,
                               &IID_IOleInPlaceActiveObject,
                               &IID_IOleControl,
                               &IID_IViewObject2,
                               &IID_IDataObject,
                               &IID_IPersistStreamInit,
                               &IID_IPersistPropertyBag,
                               &IID_IPersistStorage,
                               &IID_IPersistMemory,
                               &IID_IProvideClassInfo2,
                               &IID_IConnectionPointContainer,
                               &IID_ISpecifyPropertyPages,
                               &IID_IQuickActivate,
                               &IID_IObjectWithSite,
                               &IID_IObjectSafety,
                               &DIID__DVantorima};
    for (const IID* iid : interfaces) {
        CInterfacePtr<IUnknown> part;
        ASSERT_EQ(identity->QueryInterface(*iid, part.PutVoid()), S_OK);
        CInterfacePtr<IUnknown> back;
        ASSERT_EQ(part->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
        EXPECT_EQ(back.Get(), identity.Get());
    }
    CInterfacePtr<IUnknown> none;
    EXPECT_EQ(identity->QueryInterface(IID_IClassFactory, none.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(none);

    // The property page list, the misc status and the events.
    CInterfacePtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(control.As(&pages), S_OK);
    CAUUID list = {};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    const CLSID page = {0x4ec3797c, 0xe712, 0x4833, {0xaa, 0x77, 0xa5, 0xd2, 0x26, 0xd5, 0x59, 0x93}};
    EXPECT_TRUE(IsEqualGUID(list.pElems[0], page));
    CoTaskMemFree(list.pElems);
    CInterfacePtr<IOleObject> ole;
    ASSERT_EQ(control.As(&ole), S_OK);
    DWORD status = 0;
    EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191u);
    CInterfacePtr<IConnectionPointContainer> points;
    ASSERT_EQ(control.As(&points), S_OK);
    CInterfacePtr<IConnectionPoint> events;
    ASSERT_EQ(points->FindConnectionPoint(DIID__DVantorimaEvents, events.Put()), S_OK);
    EXPECT_EQ(points->FindConnectionPoint(IID_IPropertyNotifySink, events.Put()), CONNECT_E_NOCONNECTION);
    CInterfacePtr<IEnumConnectionPoints> all;
    ASSERT_EQ(points->EnumConnectionPoints(all.Put()), S_OK);
    IConnectionPoint* fetched[2] = {};
    ULONG count = 0;
    EXPECT_EQ(all->Next(2, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    IID iid = IID_NULL;
    fetched[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, DIID__DVantorimaEvents));
    fetched[0]->Release();
}

TEST_F(ControlObject, ObjectSafetyAnswersTheArgumentsForAnAllowedPageOnly)
{
    CInterfacePtr<IDispatch> control = NewControl();
    CInterfacePtr<IObjectSafety> safety;
    ASSERT_EQ(control.As(&safety), S_OK);
    CInterfacePtr<IObjectWithSite> withSite;
    ASSERT_EQ(control.As(&withSite), S_OK);
    // A host that asks but cannot say where the page is, or a page elsewhere.
    const bool locked = !IsSiteLockOff(VANTORIMA_ALLOWED_SITES);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), locked ? E_FAIL : S_OK);
    CBrowserSite elsewhere(L"http://127.0.0.1.evil.example/login.html");
    ASSERT_EQ(withSite->SetSite(&elsewhere), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), locked ? E_FAIL : S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 2), locked ? E_FAIL : S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0, 0), S_OK);

    // A page of the update server, as the default lock names it.
    const std::string origin = VANTORIMA_UPDATE_ORIGIN "/login.html";
    const std::wstring oursText(origin.begin(), origin.end());
    const wchar_t* const kOurs = oursText.c_str();
    if (locked && !IsAllowedSite(kOurs, VANTORIMA_ALLOWED_SITES))
        GTEST_SKIP() << "loopback pages are not allowed by VANTORIMA_ALLOWED_SITES";
    CBrowserSite ours(kOurs);
    ASSERT_EQ(withSite->SetSite(&ours), S_OK);
    struct Case {
        const IID* iid;
        HRESULT result;
        DWORD enabled;
    };
    const Case cases[] = {
        {&IID_IDispatch, S_OK, 1},           {&IID_IPersistPropertyBag, S_OK, 2},
        {&IID_IPersistStreamInit, S_OK, 2},  {&IID_IPersistStorage, S_OK, 2},
        {&IID_IPersistMemory, S_OK, 2},      {&IID_IObjectSafety, E_NOINTERFACE, 0},
        {&IID_IOleObject, E_NOINTERFACE, 0}, {&IID_IClassFactory, E_NOINTERFACE, 0},  // not implemented at all
    };
    for (const Case& c : cases) {
        DWORD supported = 99;
        DWORD enabled = 99;
        EXPECT_EQ(safety->GetInterfaceSafetyOptions(*c.iid, &supported, &enabled), c.result);
        EXPECT_EQ(supported, 3u);
        EXPECT_EQ(enabled, c.enabled);
    }
    DWORD untouched = 99;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &untouched), E_POINTER);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &untouched, nullptr), E_POINTER);
    EXPECT_EQ(untouched, 99u);

    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistStreamInit, 2, 2), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 2), S_OK);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistMemory, 1, 1), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IOleObject, 1, 1), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 1, 1), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IClassFactory, 0, 0), S_OK);
    // A successful set changes nothing.
    DWORD supported = 0;
    DWORD enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 1u);
    withSite->SetSite(nullptr);
}

TEST_F(ControlObject, PropertyBagsLoadWhatThePageGivesAndSaveEverything)
{
    CPropertyBag page;
    page.values[L"strID"] = values_[0];
    page.values[L"strPass"] = L"pw";
    page.silent = {L"key", L"strServer"};
    CInterfacePtr<IDispatch> control = NewControl();
    CInterfacePtr<IPersistPropertyBag> persist;
    ASSERT_EQ(control.As(&persist), S_OK);
    SetAll(control.Get(), L"", L"", L"old key", L"old server");
    {
        CImportPatch olderSystem(module_.Handle(), "oleaut32.dll", "VariantInit",
                                 reinterpret_cast<void*>(&TypeOnlyVariantInit));
        ASSERT_TRUE(olderSystem.Patched());
        ASSERT_EQ(persist->Load(&page, nullptr), S_OK);
    }
    EXPECT_FALSE(page.uncleared);
    EXPECT_EQ(All(control.Get()), (std::vector<std::wstring>{values_[0], L"pw", L"", L""}));

    CPropertyBag saved;
    PutString(control.Get(), L"strServer", values_[3]);
    ASSERT_EQ(persist->Save(&saved, TRUE, TRUE), S_OK);
    EXPECT_EQ(saved.values[L"_Version"], L"65536");
    EXPECT_EQ(saved.types[L"_Version"], VT_I4);
    EXPECT_EQ(saved.values.count(L"_ExtentX"), 1u);
    EXPECT_EQ(saved.values[L"strID"], values_[0]);
    EXPECT_EQ(saved.values[L"key"], L"");
    EXPECT_EQ(saved.types[L"key"], VT_BSTR);
    EXPECT_EQ(saved.values[L"strServer"], values_[3]);

    CInterfacePtr<IDispatch> copy = NewControl();
    CInterfacePtr<IPersistPropertyBag> copyPersist;
    ASSERT_EQ(copy.As(&copyPersist), S_OK);
    ASSERT_EQ(copyPersist->Load(&saved, nullptr), S_OK);
    EXPECT_EQ(All(copy.Get()), All(control.Get()));
}

TEST_F(ControlObject, StreamsKeepTheOrderAndRefuseTruncatedStateWhole)
{
    CInterfacePtr<IDispatch> control = NewControl();
    SetAll(control.Get(), values_[0], values_[1], values_[2], values_[3]);
    CInterfacePtr<IPersistStreamInit> persist;
    ASSERT_EQ(control.As(&persist), S_OK);
    CInterfacePtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER sizeMax = {};
    EXPECT_EQ(persist->GetSizeMax(&sizeMax), S_OK);

    HGLOBAL memory = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(stream.Get(), &memory), S_OK);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, sizeMax.QuadPart);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
    const std::string saved(reinterpret_cast<const char*>(bytes), static_cast<size_t>(stat.cbSize.QuadPart));
    GlobalUnlock(memory);
    // Version, extent, then strID (GBK 棋手), strPass, key, strServer.
    std::string expected("\x00\x00\x01\x00", 4);
    const std::string strings[] = {"\xC6\xE5\xCA\xD6", "", "k 1", "go.example:7000"};
    ASSERT_GE(saved.size(), 12u);
    EXPECT_EQ(saved.substr(0, 4), expected);
    std::string tail;
    for (const std::string& s : strings) {
        const unsigned length = static_cast<unsigned>(s.size());
        tail += std::string(reinterpret_cast<const char*>(&length), 4) + s;
    }
    EXPECT_EQ(saved.substr(12), tail);

    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    CInterfacePtr<IDispatch> copy = NewControl();
    CInterfacePtr<IPersistStreamInit> copyPersist;
    ASSERT_EQ(copy.As(&copyPersist), S_OK);
    ASSERT_EQ(copyPersist->Load(stream.Get()), S_OK);
    EXPECT_EQ(All(copy.Get()), values_);

    // A stream that breaks off inside a string loads nothing.
    CInterfacePtr<IStream> truncated;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, truncated.Put()), S_OK);
    truncated->Write(saved.data(), static_cast<ULONG>(saved.size() - 3), nullptr);
    truncated->Seek(zero, STREAM_SEEK_SET, nullptr);
    CInterfacePtr<IDispatch> other = NewControl();
    SetAll(other.Get(), L"before", L"p", L"k", L"s");
    CInterfacePtr<IPersistStreamInit> otherPersist;
    ASSERT_EQ(other.As(&otherPersist), S_OK);
    EXPECT_TRUE(FAILED(otherPersist->Load(truncated.Get())));
    EXPECT_EQ(All(other.Get()), (std::vector<std::wstring>{L"before", L"p", L"k", L"s"}));

    // A corrupt length asks for more than there is, and fails without taking it.
    std::string corrupt = saved.substr(0, 12) + std::string("\xF0\xFF\xFF\xFF", 4) + "x";
    CInterfacePtr<IStream> bad;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, bad.Put()), S_OK);
    bad->Write(corrupt.data(), static_cast<ULONG>(corrupt.size()), nullptr);
    bad->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(otherPersist->Load(bad.Get())));
    EXPECT_EQ(GetString(other.Get(), L"strID"), L"before");
}

TEST_F(ControlObject, StorageAndMemoryRoundTrips)
{
    CInterfacePtr<IDispatch> control = NewControl();
    SetAll(control.Get(), values_[0], values_[1], values_[2], values_[3]);

    CInterfacePtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                               storage.Put()),
              S_OK);
    CInterfacePtr<IPersistStorage> persistStorage;
    ASSERT_EQ(control.As(&persistStorage), S_OK);
    ASSERT_EQ(persistStorage->Save(storage.Get(), FALSE), S_OK);
    EXPECT_EQ(persistStorage->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(persistStorage->IsDirty(), S_FALSE);
    CInterfacePtr<IDispatch> fromStorage = NewControl();
    CInterfacePtr<IPersistStorage> loadStorage;
    ASSERT_EQ(fromStorage.As(&loadStorage), S_OK);
    ASSERT_EQ(loadStorage->Load(storage.Get()), S_OK);
    EXPECT_EQ(All(fromStorage.Get()), values_);

    CInterfacePtr<IPersistMemory> persistMemory;
    ASSERT_EQ(control.As(&persistMemory), S_OK);
    ULONG size = 0;
    ASSERT_EQ(persistMemory->GetSizeMax(&size), S_OK);
    std::string buffer(size, '\0');
    EXPECT_EQ(persistMemory->Save(&buffer[0], TRUE, size - 1), STG_E_MEDIUMFULL);
    ASSERT_EQ(persistMemory->Save(&buffer[0], TRUE, size), S_OK);
    CInterfacePtr<IDispatch> fromMemory = NewControl();
    CInterfacePtr<IPersistMemory> loadMemory;
    ASSERT_EQ(fromMemory.As(&loadMemory), S_OK);
    ASSERT_EQ(loadMemory->Load(&buffer[0], size), S_OK);
    EXPECT_EQ(All(fromMemory.Get()), values_);
    EXPECT_EQ(loadMemory->Load(&buffer[0], size / 2), STG_E_READFAULT);
    EXPECT_EQ(All(fromMemory.Get()), values_);
}

TEST_F(ControlObject, QuickActivationTakesTheSiteAndTheEventSink)
{
    CEventSink sink;
    QACONTAINER container = {};
    container.cbSize = sizeof container;
    container.pUnkEventSink = &sink;
    QACONTROL answer = {};
    {
        CInterfacePtr<IDispatch> control = NewControl();
        CInterfacePtr<IQuickActivate> quick;
        ASSERT_EQ(control.As(&quick), S_OK);
        answer.cbSize = sizeof answer - 4;
        EXPECT_EQ(quick->QuickActivate(&container, &answer), E_INVALIDARG);
        answer.cbSize = sizeof answer;
        ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
        EXPECT_EQ(answer.dwMiscStatus, 0x20191u);
        EXPECT_NE(answer.dwEventCookie, 0u);
        EXPECT_EQ(sink.refs, 2);

        CInterfacePtr<IConnectionPointContainer> points;
        ASSERT_EQ(control.As(&points), S_OK);
        CInterfacePtr<IConnectionPoint> events;
        ASSERT_EQ(points->FindConnectionPoint(DIID__DVantorimaEvents, events.Put()), S_OK);
        EXPECT_EQ(events->Unadvise(answer.dwEventCookie), S_OK);
        EXPECT_EQ(events->Unadvise(answer.dwEventCookie), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(sink.refs, 1);
        DWORD cookie = 0;
        EXPECT_EQ(events->Advise(&sink, &cookie), S_OK);
        EXPECT_EQ(sink.refs, 2);
    }
    // A control that goes lets go of its sinks.
    EXPECT_EQ(sink.refs, 1);
    // A sink that cannot be connected: the activation goes on, with no cookie.
    sink.speaksDispatch = false;
    {
        CInterfacePtr<IDispatch> control = NewControl();
        CInterfacePtr<IQuickActivate> quick;
        ASSERT_EQ(control.As(&quick), S_OK);
        answer.dwEventCookie = 7;
        ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
        EXPECT_EQ(answer.dwEventCookie, 0u);
        EXPECT_EQ(sink.refs, 1);
    }
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(ControlObject, DamagedStreamsLoadWholeOrNotAtAll)
{
    CInterfacePtr<IDispatch> source = NewControl();
    SetAll(source.Get(), values_[0], L"pw", values_[2], values_[3]);
    CInterfacePtr<IPersistMemory> sourceMemory;
    ASSERT_EQ(source.As(&sourceMemory), S_OK);
    ULONG size = 0;
    ASSERT_EQ(sourceMemory->GetSizeMax(&size), S_OK);
    std::string saved(size, '\0');
    ASSERT_EQ(sourceMemory->Save(&saved[0], FALSE, size), S_OK);

    CInterfacePtr<IDispatch> target = NewControl();
    CInterfacePtr<IPersistMemory> targetMemory;
    ASSERT_EQ(target.As(&targetMemory), S_OK);
    const std::vector<std::wstring> before = {L"a", L"b", L"c", L"d"};
    int whole = 0, broken = 0;
    srand(7);
    for (int round = 0; round < 500; ++round) {
        SetAll(target.Get(), before[0], before[1], before[2], before[3]);
        std::string damaged = saved;
        // Flip a few bytes, and cut the end off now and then.
        for (int flips = rand() % 4 + 1; flips > 0; --flips)
            damaged[rand() % damaged.size()] ^= static_cast<char>(1 << (rand() % 8));
        if (round % 3 == 0)
            damaged.resize(rand() % damaged.size());
        const HRESULT hr =
            targetMemory->Load(damaged.empty() ? &saved[0] : &damaged[0], static_cast<ULONG>(damaged.size()));
        const std::vector<std::wstring> after = All(target.Get());
        std::vector<std::wstring> held;
        if (ReadSavedStrings(damaged, &held)) {
            ASSERT_EQ(hr, S_OK) << round;
            ASSERT_EQ(after, held) << round;
            ++whole;
        } else {
            ASSERT_TRUE(FAILED(hr)) << round;
            ASSERT_EQ(after, before) << round;
            ++broken;
        }
    }
    // Both roads were taken many times.
    EXPECT_GT(whole, 50);
    EXPECT_GT(broken, 50);
}
