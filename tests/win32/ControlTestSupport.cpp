#include "ControlTestSupport.h"

#include <sddl.h>

#include "WineTestSupport.h"

namespace control_test {

std::string OcxPath()
{
    return wine_test::ProgramDir() + "Vantorima.ocx";
}

COcxModule::COcxModule() : m_module(LoadLibraryA(OcxPath().c_str())) {}

COcxModule::~COcxModule()
{
    Unload();
}

namespace {
template <typename F>
F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}  // namespace

HRESULT COcxModule::Register() const
{
    auto f = Export<HRESULT(STDAPICALLTYPE*)()>(m_module, "DllRegisterServer");
    return f ? f() : E_FAIL;
}

HRESULT COcxModule::Unregister() const
{
    auto f = Export<HRESULT(STDAPICALLTYPE*)()>(m_module, "DllUnregisterServer");
    return f ? f() : E_FAIL;
}

HRESULT COcxModule::Install(bool install, const wchar_t* commandLine) const
{
    auto f = Export<HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR)>(m_module, "DllInstall");
    return f ? f(install, commandLine) : E_FAIL;
}

HRESULT COcxModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const
{
    auto f = Export<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(m_module, "DllGetClassObject");
    return f ? f(clsid, riid, ppv) : E_FAIL;
}

HRESULT COcxModule::CanUnloadNow() const
{
    auto f = Export<HRESULT(STDAPICALLTYPE*)()>(m_module, "DllCanUnloadNow");
    return f ? f() : E_FAIL;
}

HRESULT COcxModule::CreateControl(REFIID riid, void** ppv) const
{
    static const CLSID kControl = {0x3693842e, 0xc439, 0x4246, {0xb5, 0x6c, 0x45, 0x29, 0x93, 0x2a, 0x9a, 0xba}};
    CInterfacePtr<IClassFactory> factory;
    HRESULT hr = GetClassObject(kControl, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr))
        return hr;
    return factory->CreateInstance(nullptr, riid, ppv);
}

bool COcxModule::Unload()
{
    // COM lets go of the module too, if it loaded it for a host.
    CoFreeUnusedLibrariesEx(0, 0);
    if (m_module) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
    return GetModuleHandleA("Vantorima.ocx") == nullptr;
}

HRESULT PutProperty(IDispatch* object, const wchar_t* name, const VARIANT& value)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    VARIANT arg = value;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&arg, &put, 1, 1};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

HRESULT PutString(IDispatch* object, const wchar_t* name, const std::wstring& value)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    const HRESULT hr = PutProperty(object, name, v);
    SysFreeString(v.bstrVal);
    return hr;
}

std::wstring GetString(IDispatch* object, const wchar_t* name)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return L"<no such name>";
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                              nullptr)) ||
        result.vt != VT_BSTR)
        return L"<failed>";
    std::wstring text(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return text;
}

HRESULT CallMethod(IDispatch* object, DISPID id)
{
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}

DWORD RunProgram(const std::string& commandLine, std::string* output, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return ~0u;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return ~0u;
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(readEnd);
    DWORD code = ~0u;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output)
        *output = text;
    return code;
}

namespace {

// The Unix path of a path on Wine's Z: drive (the root file system).
std::string UnixPath(const std::string& windowsPath)
{
    std::string path = windowsPath;
    if (path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path = path.substr(2);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

bool CompletePng(const std::string& path)
{
    const std::string bytes = wine_test::ReadFileBytes(path);
    static const char kEnd[] = "IEND\xAE\x42\x60\x82";
    return bytes.size() > 12 && bytes.compare(bytes.size() - 8, 8, kEnd, 8) == 0;
}

}  // namespace

bool Screenshot(const std::string& name)
{
    // bin\ -> ..\..\artifacts (build/artifacts)
    std::string dir = wine_test::ProgramDir() + "..\\..\\artifacts";
    CreateDirectoryA(dir.c_str(), nullptr);
    char full[MAX_PATH];
    GetFullPathNameA((dir + "\\" + name + ".png").c_str(), MAX_PATH, full, nullptr);
    DeleteFileA(full);
    // Wine runs a Unix program started by path; it does not wait for it.
    std::string command = "Z:\\usr\\bin\\import -window root " + UnixPath(full);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return wine_test::PumpUntil([&] { return CompletePng(full); }, 20000);
}

bool ClassesKeyExists(const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::string ClassesValue(const std::string& key, const char* name)
{
    char data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_ANY, &type, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    if (type != REG_SZ)
        return "<type " + std::to_string(type) + ">";
    return std::string(data, size > 0 ? size - 1 : 0);
}

bool SetClassesKeyDacl(const std::string& key, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, WRITE_DAC, &opened);
    if (result == ERROR_SUCCESS) {
        result = RegSetKeySecurity(opened, DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(opened);
    }
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

HWND CreateHostWindow(const char* title, bool visible)
{
    static const char kClass[] = "VantorimaTestHost";
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc);  // fails harmlessly when already there
    return CreateWindowExA(0, kClass, title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0), 100,
                           100, 400, 300, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

HWND FindControlWindow(HWND host)
{
    return FindWindowExA(host, nullptr, "VantorimaWindow", nullptr);
}

namespace {
HMODULE Atl()
{
    static HMODULE atl = LoadLibraryA("atl.dll");
    return atl;
}
}  // namespace

AtlAxCreateControlExFunction AtlAxCreateControlEx()
{
    return Export<AtlAxCreateControlExFunction>(Atl(), "AtlAxCreateControlEx");
}

AtlAxAttachControlFunction AtlAxAttachControl()
{
    return Export<AtlAxAttachControlFunction>(Atl(), "AtlAxAttachControl");
}

}  // namespace control_test
