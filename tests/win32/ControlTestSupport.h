// Helpers for the tests of Vantorima.ocx: the module loaded as a host loads
// it, its registration, dispatch calls, processes and screenshots.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>

#include <string>

#include "framework/com/InterfacePtr.h"

// The system header names no uuid for it, and the tests ask controls for it.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64)

namespace control_test {

// bin\Vantorima.ocx beside the test program.
std::string OcxPath();

// The module, loaded for the life of the object.
class COcxModule {
public:
    COcxModule();
    ~COcxModule();
    COcxModule(const COcxModule&) = delete;
    COcxModule& operator=(const COcxModule&) = delete;

    HMODULE Handle() const { return m_module; }
    HRESULT Register() const;
    HRESULT Unregister() const;
    // DllInstall: per-user registration when commandLine is "user".
    HRESULT Install(bool install, const wchar_t* commandLine) const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const;
    HRESULT CanUnloadNow() const;
    // A new control from the module's class object (no registration needed).
    HRESULT CreateControl(REFIID riid, void** ppv) const;
    // Unloads it now; true when the module is gone.
    bool Unload();

private:
    HMODULE m_module;
};

// Property access through IDispatch, by name.
HRESULT PutProperty(IDispatch* object, const wchar_t* name, const VARIANT& value);
HRESULT PutString(IDispatch* object, const wchar_t* name, const std::wstring& value);
std::wstring GetString(IDispatch* object, const wchar_t* name);
HRESULT CallMethod(IDispatch* object, DISPID id);

// A CoInitialize'd (OLE) apartment for the life of the object.
class COleApartment {
public:
    COleApartment() { OleInitialize(nullptr); }
    ~COleApartment() { OleUninitialize(); }
};

// Runs a program (a command line of this Wine session) with its output
// captured; returns its exit code, or ~0u when it could not run or timed out.
DWORD RunProgram(const std::string& commandLine, std::string* output, DWORD timeoutMs = 60000);

// Saves a picture of the whole X screen as build/artifacts/<name>.png.
bool Screenshot(const std::string& name);

// Registry helpers under HKEY_CLASSES_ROOT.
bool ClassesKeyExists(const std::string& key);
// The value's text (REG_SZ without its terminator); "<missing>" when absent.
std::string ClassesValue(const std::string& key, const char* name = nullptr);
bool SetClassesKeyDacl(const std::string& key, const char* sddl);

// A top-level window for a control to live in, as a page would be.
HWND CreateHostWindow(const char* title, bool visible = true);

// The host window's child of the control's window class, or null.
HWND FindControlWindow(HWND host);

// Wine's ATL container (atl.dll).
using AtlAxCreateControlExFunction = HRESULT(WINAPI*)(LPCOLESTR, HWND, IStream*, IUnknown**, IUnknown**, REFIID,
                                                      IUnknown*);
using AtlAxAttachControlFunction = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
AtlAxCreateControlExFunction AtlAxCreateControlEx();
AtlAxAttachControlFunction AtlAxAttachControl();

}  // namespace control_test
