// The in-place protocol as a host site sees it: a site that records each call
// the control makes, as Wine's own conformance tests do.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ControlTestSupport.h"
#include "VantorimaLib.h"
#include "WineTestSupport.h"

using namespace control_test;
using namespace wine_test;

namespace {

class CRecordingSite : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
public:
    std::vector<std::string> calls;
    LONG refs = 1;
    HWND window = nullptr;
    RECT position = {10, 20, 210, 120};
    bool refuseActivation = false;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceSite))
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceFrame) || IsEqualIID(riid, IID_IOleInPlaceUIWindow))
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return Record("SaveObject"); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (site and frame)
    STDMETHODIMP GetWindow(HWND* hwnd) override
    {
        *hwnd = window;
        return Record("GetWindow");
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override
    {
        Record("CanInPlaceActivate");
        return refuseActivation ? S_FALSE : S_OK;
    }
    STDMETHODIMP OnInPlaceActivate() override { return Record("OnInPlaceActivate"); }
    STDMETHODIMP OnUIActivate() override { return Record("OnUIActivate"); }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO) override
    {
        *frame = this;
        AddRef();
        *document = nullptr;
        *pos = position;
        *clip = position;
        return Record("GetWindowContext");
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return Record("OnUIDeactivate"); }
    STDMETHODIMP OnInPlaceDeactivate() override { return Record("OnInPlaceDeactivate"); }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

    // IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return Record("SetBorderSpace"); }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override
    {
        return Record(object ? "SetActiveObject" : "SetActiveObject(none)");
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    std::vector<std::string> TakeCalls() { return std::exchange(calls, {}); }

private:
    HRESULT Record(const char* call)
    {
        calls.push_back(call);
        return S_OK;
    }
};

using Calls = std::vector<std::string>;

class ControlInPlace : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        site_.window = host_;
        ASSERT_EQ(module_.CreateControl(IID_IOleObject, control_.PutVoid()), S_OK);
        ASSERT_EQ(control_->SetClientSite(&site_), S_OK);
    }
    void TearDown() override
    {
        if (control_) {
            control_->Close(OLECLOSE_NOSAVE);
            control_->SetClientSite(nullptr);
            control_.Reset();
        }
        // Every reference the control took to the site is given back.
        EXPECT_EQ(site_.refs, 1);
        EXPECT_EQ(module_.CanUnloadNow(), S_OK);
        DestroyWindow(host_);
        DeleteSettingsKey();
    }

    int Launches() const { return trace_.Count("m_key : <0 bytes>"); }

    COleApartment apartment_;
    COcxModule module_;
    CTraceCapture trace_;
    HWND host_ = CreateHostWindow("in-place host");
    CRecordingSite site_;
    CInterfacePtr<IOleObject> control_;
};

}  // namespace

TEST_F(ControlInPlace, ActivatesInPlaceThenInTheUserInterfaceAndDeactivatesInReverse)
{
    ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
    EXPECT_EQ(site_.TakeCalls(), (Calls{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext"}));
    HWND window = FindControlWindow(host_);
    ASSERT_TRUE(window);
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.bottom, 120);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Launches(), 1);

    ASSERT_EQ(control_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
    EXPECT_EQ(site_.TakeCalls(), (Calls{"OnUIActivate", "SetActiveObject", "SetBorderSpace"}));
    // Activating again neither makes a second window nor launches again.
    ASSERT_EQ(control_->DoVerb(OLEIVERB_PRIMARY, nullptr, &site_, 0, host_, &site_.position), S_OK);
    EXPECT_EQ(site_.TakeCalls(), Calls{});
    EXPECT_EQ(FindWindowExA(host_, window, "VantorimaWindow", nullptr), nullptr);
    EXPECT_EQ(Launches(), 1);

    CInterfacePtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control_.As(&inPlace), S_OK);
    const RECT moved = {30, 40, 80, 90};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, 50);

    // A changed property is saved before the close takes the window.
    CInterfacePtr<IDispatch> dispatch;
    ASSERT_EQ(control_.As(&dispatch), S_OK);
    ASSERT_EQ(PutString(dispatch.Get(), L"strID", L"someone"), S_OK);
    ASSERT_EQ(control_->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site_.TakeCalls(),
              (Calls{"SaveObject", "SetActiveObject(none)", "OnUIDeactivate", "OnInPlaceDeactivate"}));
    EXPECT_FALSE(IsWindow(window));
    HWND none = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&none), E_FAIL);
}

TEST_F(ControlInPlace, ASiteThatRefusesGetsNoWindowAndNoLaunch)
{
    site_.refuseActivation = true;
    EXPECT_TRUE(FAILED(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position)));
    EXPECT_EQ(site_.TakeCalls(), Calls{"CanInPlaceActivate"});
    EXPECT_FALSE(FindControlWindow(host_));
    EXPECT_EQ(Launches(), 0);
}

TEST_F(ControlInPlace, TheHostWindowEndingFirstLeavesTheControlWhole)
{
    ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
    ASSERT_TRUE(FindControlWindow(host_));
    // The page goes without telling the control; its window goes with it.
    DestroyWindow(host_);
    CInterfacePtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control_.As(&inPlace), S_OK);
    HWND none = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&none), E_FAIL);
    site_.TakeCalls();
    EXPECT_EQ(control_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site_.TakeCalls(), Calls{"OnInPlaceDeactivate"});
}

TEST_F(ControlInPlace, AfterTheCompletionMessageTheControlKnowsItsWindowIsGone)
{
    CScratchDir client("in-place client");
    ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client.File("Marovent.exe").c_str(), FALSE));
    WriteSettingsValue("WorkDir", REG_SZ, client.Path() + '\0');
    SetEnvironmentVariableA("MAROVENT_RECORD", client.File("record.txt").c_str());
    ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
    // The client starts and the completion message ends the page's window.
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(host_); }));
    ASSERT_TRUE(PumpUntil([&] { return FileExists(client.File("record.txt")); }));
    SetEnvironmentVariableA("MAROVENT_RECORD", nullptr);
    site_.TakeCalls();

    // Activating again finds no window to live in: no success without a window.
    EXPECT_TRUE(FAILED(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position)));
    EXPECT_EQ(site_.TakeCalls(),
              (Calls{"OnInPlaceDeactivate", "CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext",
                     "OnInPlaceDeactivate"}));
    CInterfacePtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control_.As(&inPlace), S_OK);
    HWND none = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&none), E_FAIL);
    EXPECT_EQ(Launches(), 1);
    EXPECT_EQ(control_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site_.TakeCalls(), Calls{});
}

namespace {

// The update dialog's failure box runs a modal loop, and the page's own code
// (its timers) runs inside it. Whatever that code does to the control then,
// nothing of the freed dialog may run when the box returns.
class ControlInPlaceUnderABox : public ControlInPlace {
protected:
    static HWND Box() { return FindWindowW(L"#32770", L"VOK \u56f4\u68cb"); }
    static HWND UpdateDialog()
    {
        return FindWindowW(L"#32770", L"\u6b63\u5728\u5347\u7ea7VOK\u56f4\u68cb\uff0c\u8bf7\u7a0d\u5019");
    }

    // Opens the update dialog (no client installed, nothing serves the
    // installer), then runs `action` from a timer of the page once the
    // download's failure box is up.
    void WhileTheFailureBoxIsUp(std::function<void()> action)
    {
        ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
        dialog_ = UpdateDialog();
        ASSERT_TRUE(dialog_);
        s_action = std::move(action);
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, &OnTimer);
        ASSERT_TRUE(PumpUntil([] { return !s_action; }, 20000)) << "no failure box";
        KillTimer(nullptr, timer);
        EXPECT_FALSE(Box());
        EXPECT_FALSE(IsWindow(dialog_));
        EXPECT_TRUE(HeapsValid());
        EXPECT_EQ(trace_.Count("CPelloraCtrl::OnNotifyChild"), 0);
    }
    // The handler whose box it was did nothing more: no hiding, no start.
    int Exits() const { return trace_.Count("CDownLoadDlg::Exit"); }

    void Release()
    {
        control_->Close(OLECLOSE_NOSAVE);
        control_->SetClientSite(nullptr);
        control_.Reset();
    }

    HWND dialog_ = nullptr;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        if (!s_action || !IsWindowVisible(Box()))
            return;
        const std::function<void()> action = std::move(s_action);
        s_action = nullptr;
        action();
    }
    static std::function<void()> s_action;
};
std::function<void()> ControlInPlaceUnderABox::s_action;

}  // namespace

TEST_F(ControlInPlaceUnderABox, ThePageRemovingTheControlTakesTheBoxAndTheDialog)
{
    WhileTheFailureBoxIsUp([this] { Release(); });
    PumpFor(500);
    EXPECT_EQ(Exits(), 0);
    EXPECT_TRUE(HeapsValid());
    EXPECT_TRUE(IsWindow(host_));
}

TEST_F(ControlInPlaceUnderABox, TheBrowserWindowEndingTakesTheBoxAndTheDialog)
{
    WhileTheFailureBoxIsUp([this] {
        DestroyWindow(host_);
        Release();
    });
    PumpFor(500);
    EXPECT_EQ(Exits(), 0);
    EXPECT_TRUE(HeapsValid());
}

TEST_F(ControlInPlaceUnderABox, ANewActivationReplacesTheDialogUnderItsBox)
{
    std::unique_ptr<CBoxAnswerer> answerer;
    WhileTheFailureBoxIsUp([&] {
        CInterfacePtr<IOleInPlaceObject> inPlace;
        ASSERT_EQ(control_.As(&inPlace), S_OK);
        inPlace->InPlaceDeactivate();
        ASSERT_EQ(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, host_, &site_.position), S_OK);
        // The new dialog's own download fails in turn; its box is answered.
        answerer = std::make_unique<CBoxAnswerer>(IDOK);
    });
    EXPECT_EQ(Launches(), 2);
    const HWND replacement = UpdateDialog();
    EXPECT_TRUE(replacement);
    EXPECT_NE(replacement, dialog_);
    EXPECT_TRUE(PumpUntil([&] { return replacement && !IsWindowVisible(replacement); }, 20000));
    EXPECT_EQ(Exits(), 1);  // the new dialog's
    EXPECT_TRUE(HeapsValid());
    EXPECT_TRUE(IsWindow(host_));
}
