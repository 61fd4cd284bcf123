// bench_control: what the control module costs.
//
//   - the size of the shipped (stripped) Vantorima.ocx, target <= 288 KiB
//     (the 64-bit module, which this bench measures when built for 64 bits:
//     <= 320 KiB);
//   - the DLLs it imports, which must all be Windows' own;
//   - the time from putting the control in place (its window's creation runs
//     the launch) until its request to start the client has returned, against
//     a bare ShellExecuteA of the same stand-in client with the same
//     arguments; target ratio <= 1.2. The control's figure includes the
//     host's in-place activation around the window's creation.
#include <windows.h>
#include <ocidl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/BenchImage.h"
#include "VantorimaLib.h"
#include "framework/com/InterfacePtr.h"
#include "launch/SettingsStore.h"

namespace {

constexpr int kRounds = 25;

// Waits for the client's record, then a little for the client to exit, so
// the next start does not share the machine with it.
bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 1000; ++i) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            Sleep(30);
            return true;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        Sleep(5);
    }
    return false;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// When the control's window is being created: a CBT hook sees it first.
double g_windowCreated = 0;

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        char name[64] = {};
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
        if (lstrcmpA(name, "VantorimaWindow") == 0)
            g_windowCreated = 1000.0 * SecondsNow();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

template <typename F>
F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HRESULT PutString(IDispatch* control, DISPID id, const wchar_t* value)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&v, &put, 1, 1};
    const HRESULT hr = control->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    SysFreeString(v.bstrVal);
    return hr;
}

}  // namespace

int main()
{
    const std::string ocx = ProgramDir() + "Vantorima.ocx";
    const std::string image = ReadFileBytes(ocx);
    const double kib = image.size() / 1024.0;
    const int bits = sizeof(void*) == 8 ? 64 : 32;
    const int target = bits == 64 ? 320 : 288;
    printf("%d-bit module size (stripped): %zu bytes = %.1f KiB (target <= %d KiB: %s)\n", bits, image.size(), kib,
           target, kib <= target ? "met" : "NOT met");
    PrintImports(image);

    // The client, installed where the settings key says.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "vantorima-bench";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::string client = dir + "\\Marovent.exe";
    const std::string record = dir + "\\record.txt";
    CopyFileA((ProgramDir() + "Marovent.exe").c_str(), client.c_str(), FALSE);
    SetEnvironmentVariableA("MAROVENT_RECORD", record.c_str());
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, "WorkDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   static_cast<DWORD>(dir.size() + 1));
    RegCloseKey(key);

    OleInitialize(nullptr);
    HMODULE module = LoadLibraryA(ocx.c_str());
    HMODULE atl = LoadLibraryA("atl.dll");
    auto getClassObject = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(module, "DllGetClassObject");
    auto attach = Export<HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**)>(atl, "AtlAxAttachControl");
    if (!getClassObject || !attach) {
        printf("cannot load the module or Wine's ATL\n");
        return 1;
    }
    CInterfacePtr<IClassFactory> factory;
    getClassObject(CLSID_Vantorima, IID_IClassFactory, factory.PutVoid());

    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BenchHost";
    RegisterClassA(&wc);

    HHOOK hook = SetWindowsHookExA(WH_CBT, &WatchCreation, nullptr, GetCurrentThreadId());
    std::vector<double> controlTimes;
    std::vector<double> bareTimes;
    for (int round = 0; round < kRounds; ++round) {
        // The control: properties set, then put in place in a host window.
        CInterfacePtr<IDispatch> control;
        factory->CreateInstance(nullptr, IID_IDispatch, control.PutVoid());
        PutString(control.Get(), 1, L"player");
        PutString(control.Get(), 2, L"password");
        PutString(control.Get(), 3, L"1234");
        HWND host = CreateWindowExA(0, "BenchHost", "page", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        DeleteFileA(record.c_str());
        CInterfacePtr<IUnknown> container;
        g_windowCreated = 0;
        attach(control.Get(), host, container.Put());
        // The launch ends with the start request and the completion post.
        const double launched = 1000.0 * SecondsNow();
        if (g_windowCreated > 0)
            controlTimes.push_back(launched - g_windowCreated);
        const std::string args = " /NAME:player /PASSWORD:" + std::string(64, 'x') + " /JOINKEY:1234";
        WaitForFile(record);
        if (IsWindow(host))
            DestroyWindow(host);
        container.Reset();
        control.Reset();

        // The same start, bare.
        DeleteFileA(record.c_str());
        const double bareStart = 1000.0 * SecondsNow();
        ShellExecuteA(nullptr, nullptr, client.c_str(), args.c_str(), nullptr, SW_SHOWNORMAL);
        bareTimes.push_back(1000.0 * SecondsNow() - bareStart);
        WaitForFile(record);
    }
    UnhookWindowsHookEx(hook);
    if (controlTimes.empty()) {
        printf("the control's window was never created\n");
        return 1;
    }
    const double controlMs = Median(controlTimes);
    const double bareMs = Median(bareTimes);
    const double ratio = controlMs / bareMs;
    printf("window creation to client start request: %.2f ms (median of %d)\n", controlMs, kRounds);
    printf("bare ShellExecuteA of the same client:   %.2f ms (median of %d)\n", bareMs, kRounds);
    printf("  ratio %.2f (target <= 1.2: %s)\n", ratio, ratio <= 1.2 ? "met" : "NOT met");

    factory.Reset();
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
    DeleteFileA(record.c_str());
    DeleteFileA(client.c_str());
    RemoveDirectoryA(dir.c_str());
    OleUninitialize();
    return 0;
}
