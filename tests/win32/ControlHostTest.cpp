// The control in hosts nobody here wrote: Wine's ATL container hosts it in
// place from a stream the control saved, and the launch sequence runs from the
// loaded properties to the end of the host's window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "BuildConfig.h"
#include "ControlTestSupport.h"
#include "VantorimaLib.h"
#include "WineTestSupport.h"

using namespace control_test;
using namespace wine_test;

namespace {

const wchar_t kProgId[] = L"VANTORIMA.VantorimaCtrl.1";

class ControlInAtlHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        ASSERT_EQ(module_.Register(), S_OK);
        ASSERT_TRUE(CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client_.File("Marovent.exe").c_str(), FALSE));
        SetEnvironmentVariableA("MAROVENT_RECORD", record_.c_str());
    }
    void TearDown() override
    {
        if (IsWindow(host_))
            DestroyWindow(host_);
        SetEnvironmentVariableA("MAROVENT_RECORD", nullptr);
        DeleteFileA(record_.c_str());
        DeleteSettingsKey();
        module_.Unregister();
    }

    void Install() { WriteSettingsValue("WorkDir", REG_SZ, client_.Path() + '\0'); }

    // The page's properties as the control itself saves them.
    CInterfacePtr<IStream> SavedProperties(const std::wstring& id, const std::wstring& pass, const std::wstring& key,
                                           const std::wstring& server)
    {
        CInterfacePtr<IDispatch> control;
        EXPECT_EQ(CoCreateInstance(CLSID_Vantorima, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.PutVoid()),
                  S_OK);
        CInterfacePtr<IStream> stream;
        if (!control)
            return stream;
        PutString(control.Get(), L"strID", id);
        PutString(control.Get(), L"strPass", pass);
        PutString(control.Get(), L"key", key);
        PutString(control.Get(), L"strServer", server);
        CInterfacePtr<IPersistStreamInit> persist;
        EXPECT_EQ(control.As(&persist), S_OK);
        CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
        EXPECT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
        LARGE_INTEGER zero = {};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        return stream;
    }

    HRESULT Host(IStream* stream)
    {
        host_ = CreateHostWindow("page");
        return AtlAxCreateControlEx()(kProgId, host_, stream, container_.Put(), control_.Put(), IID_NULL, nullptr);
    }

    COleApartment apartment_;
    COcxModule module_;
    CScratchDir client_{"vantorima atl client"};
    std::string record_ = client_.Path() + ".record.txt";
    CTraceCapture trace_;
    const std::string since_ = LogTimeNow();
    HWND host_ = nullptr;
    CInterfacePtr<IUnknown> container_;
    CInterfacePtr<IUnknown> control_;
};

}  // namespace

TEST_F(ControlInAtlHost, LaunchesTheClientFromTheLoadedPropertiesAndEndsTheHost)
{
    Install();
    // 棋手 一, a token-sized password is passed as it is.
    const std::wstring ready(64, L'z');
    CInterfacePtr<IStream> saved = SavedProperties(L"\u68cb\u624b \u4e00", ready, L"J01nKey", L"go.example:7000");
    ASSERT_TRUE(saved);
    ASSERT_EQ(Host(saved.Get()), S_OK);
    ASSERT_TRUE(control_);
    HWND window = FindControlWindow(host_);
    ASSERT_TRUE(window) << "the control was not activated in place";
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) & WS_CHILD);
    CInterfacePtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control_.As(&inPlace), S_OK);
    HWND reported = nullptr;
    EXPECT_EQ(inPlace->GetWindow(&reported), S_OK);
    EXPECT_EQ(reported, window);
    inPlace.Reset();

    // The completion message (2025) ends the host's top-level window.
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(host_) && FileExists(record_); }));
    const std::string record = ReadFileBytes(record_);
    EXPECT_EQ(RecordField(record, "name"), "\xC6\xE5\xCA\xD6 \xD2\xBB");
    EXPECT_EQ(RecordField(record, "password"), std::string(64, 'z'));
    EXPECT_EQ(RecordField(record, "joinkey"), "J01nKey");
    EXPECT_EQ(SettingsText("LoginSERV"), "go.example:7000");
    EXPECT_TRUE(trace_.Contains("id : \xC6\xE5\xCA\xD6 \xD2\xBB"));
    EXPECT_TRUE(trace_.Contains("CPelloraCtrl::OnNotifyChild"));
    EXPECT_TRUE(trace_.Contains("GetParentOwner"));
    // The user's log: the same lines as the control's, never the password
    // nor the join key.
    const std::vector<LogLine> logged = LogLinesOf(GetCurrentProcessId(), since_);
    std::vector<std::string> texts;
    for (const LogLine& line : logged) {
        EXPECT_EQ(line.program, "control") << line.text;
        EXPECT_EQ(line.text.find(std::string(16, 'z')), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("J01nKey"), std::string::npos) << line.text;
        texts.push_back(line.text);
    }
    const std::vector<std::string> launch = {"id : \xC6\xE5\xCA\xD6 \xD2\xBB", "passwd : <64 bytes>",
                                             "m_key : <7 bytes>", "m_strServer : go.example:7000"};
    EXPECT_NE(std::search(texts.begin(), texts.end(), launch.begin(), launch.end()), texts.end());
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "GetParentOwner"), 1);

    // The control outlived its window and goes with the host's last reference.
    control_.Reset();
    container_.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(ControlInAtlHost, WithoutTheClientTheUpdateInstallsItAndEndsTheHost)
{
    if (UpdateServerPort().empty())
        GTEST_SKIP() << "runs inside testbed/update_server.py on the installer's port";
    // The update server offers the signed stand-in installer, which installs
    // the client into its own directory and records it as WorkDir.
    ASSERT_FALSE(ServeInstaller().empty());
    CScratchDir temp("atl update temp"), install("atl update install");
    const std::string installerRecord = temp.File("installer.txt");
    for (const char* name : {"TMP", "TEMP"})
        SetEnvironmentVariableA(name, temp.Path().c_str());
    SetEnvironmentVariableA("VANTORIMA_INSTALL_DIR", install.Path().c_str());
    SetEnvironmentVariableA("MAROVENT_INSTALLER_RECORD", installerRecord.c_str());
    CBoxAnswerer answerer(IDOK);

    CInterfacePtr<IStream> saved = SavedProperties(L"guest", L"pw", L"", L"");
    ASSERT_EQ(Host(saved.Get()), S_OK);
    // The dialog downloads, checks and starts the installer; the completion
    // ends the host's window.
    const bool ended = PumpUntil([&] { return !IsWindow(host_) && FileExists(installerRecord); }, 60000);
    for (const char* name : {"TMP", "TEMP", "VANTORIMA_INSTALL_DIR", "MAROVENT_INSTALLER_RECORD"})
        SetEnvironmentVariableA(name, nullptr);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(answerer.Texts().empty());
    const std::string started = RecordField(ReadFileBytes(installerRecord), "cmdline");
    EXPECT_NE(started.find(temp.Path()), std::string::npos) << started;
    EXPECT_NE(started.find("VokWeiqi.exe"), std::string::npos) << started;
    ASSERT_TRUE(PumpUntil([&] { return SettingsText("WorkDir") == install.Path(); }));
    if (VANTORIMA_INSTALLER_CHECK) {
        EXPECT_EQ(trace_.Last("CheckInstallerFile : ").rfind("CheckInstallerFile : suc (", 0), 0u);
    }
    EXPECT_EQ(trace_.Count("CDownLoadDlg::Exit"), 1);
    EXPECT_FALSE(FileExists(record_));  // the installer, not the control, starts the client
    // In the user's log the dialog and its worker write as the update dialog.
    std::map<std::string, std::string> programs;
    for (const LogLine& line : LogLinesOf(GetCurrentProcessId(), since_))
        programs[line.text] = line.program;
    EXPECT_EQ(programs["id : guest"], "control");
    EXPECT_EQ(programs["link :" VANTORIMA_UPDATE_ORIGIN "/service/VokWeiqi.exe"], "update dialog");
    EXPECT_EQ(programs["CWebGrab::DownloadListAll"], "update dialog");
    EXPECT_EQ(programs["CDownLoadDlg::Exit"], "update dialog");
    EXPECT_EQ(programs["delete m_downLoaddlg"], "control");

    control_.Reset();
    container_.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(ControlInAtlHost, WithoutTheClientThePageStaysAndTheControlWaits)
{
    // The update dialog opens; with nothing to download its download fails.
    CBoxAnswerer answerer(IDOK);
    CInterfacePtr<IStream> saved = SavedProperties(L"guest", L"pw", L"", L"");
    ASSERT_EQ(Host(saved.Get()), S_OK);
    // The dialog's worker names the link once it runs.
    EXPECT_TRUE(PumpUntil([&] { return trace_.Contains("link :" VANTORIMA_UPDATE_ORIGIN "/service/VokWeiqi.exe"); }));
    EXPECT_TRUE(IsWindow(host_));
    EXPECT_TRUE(FindControlWindow(host_));
    EXPECT_TRUE(trace_.Contains("strPath : "));
    EXPECT_EQ(SettingsText("SaveStart").substr(0, 23), " /NAME:guest /PASSWORD:");
    EXPECT_FALSE(FileExists(record_));

    // A property set after the window exists changes nothing the launch did.
    CInterfacePtr<IDispatch> dispatch;
    ASSERT_EQ(control_.As(&dispatch), S_OK);
    EXPECT_EQ(PutString(dispatch.Get(), L"strServer", L"later.example"), S_OK);
    EXPECT_EQ(GetString(dispatch.Get(), L"strServer"), L"later.example");
    EXPECT_EQ(SettingsText("LoginSERV"), "<missing>");
    dispatch.Reset();

    DestroyWindow(host_);
    control_.Reset();
    container_.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(ControlInAtlHost, TheAtlWindowClassHostsTheControlByProgId)
{
    // "AtlAxWin" takes the ProgID as its text and starts from fresh
    // properties (InitNew).
    using InitFunction = BOOL(WINAPI*)();
    auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("atl.dll"), "AtlAxWinInit")));
    ASSERT_TRUE(init && init());
    host_ = CreateHostWindow("page");
    HWND ax = CreateWindowExW(0, L"AtlAxWin", kProgId, WS_CHILD | WS_VISIBLE, 0, 0, 200, 100, host_, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(ax);
    EXPECT_TRUE(FindControlWindow(ax));
    EXPECT_TRUE(trace_.Contains("id : "));
    DestroyWindow(host_);
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}
