// The module's face to the system: self-registration through Wine's regsvr32
// and the entry points, the type library and the module's unloading.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "BuildConfig.h"
#include "ControlTestSupport.h"
#include "VantorimaLib.h"
#include "WineTestSupport.h"

using namespace control_test;

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

namespace {

const char kControlKey[] = "CLSID\\{3693842E-C439-4246-B56C-4529932A9ABA}";
const char kPageKey[] = "CLSID\\{4EC3797C-E712-4833-AA77-A5D226D55993}";
const char kProgIdKey[] = "VANTORIMA.VantorimaCtrl.1";
const char kTypeLibKey[] = "TypeLib\\{86A4EEF8-5C3E-4114-BE18-7809B34019A1}";
const char kTypeLibVersionKey[] = "TypeLib\\{86A4EEF8-5C3E-4114-BE18-7809B34019A1}\\1.0";
// The library's path is filed under the module's own platform.
const char* const kPlatformKey = sizeof(void*) == 8 ? "0\\win64" : "0\\win32";
const char kReadOnlyDacl[] = "D:P(A;;KRSDWD;;;WD)";
const char kFullAccessDacl[] = "D:P(A;;KA;;;WD)";
const char kDispatchKey[] = "Interface\\{9CE120F2-AC78-403D-B2D9-20700932507B}";
const char kEventsKey[] = "Interface\\{84C8E826-CD00-44EB-A174-49715478A86C}";
const CLSID kPageClsid = {0x4ec3797c, 0xe712, 0x4833, {0xaa, 0x77, 0xa5, 0xd2, 0x26, 0xd5, 0x59, 0x93}};

std::string Key(const std::string& base, const std::string& sub)
{
    return base + "\\" + sub;
}

// Every key and value under root\path, by path below root: "key" or
// "key|value name", mapped to the value's type and bytes.
using Entries = std::map<std::string, std::string>;
void ReadTree(HKEY root, const std::string& path, Entries& out)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out[path] = "<key>";
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[1024];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        out[path + "|" + name] = std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), size);
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        ReadTree(root, Key(path, name), out);
    }
    RegCloseKey(key);
}

// What registration writes, read under hive\Software\Classes: both
// classes, the ProgID, the type library and its two interfaces.
Entries Registration(HKEY hive)
{
    Entries entries;
    HKEY classes = nullptr;
    if (RegOpenKeyExA(hive, "Software\\Classes", 0, KEY_READ, &classes) != ERROR_SUCCESS)
        return entries;
    for (const char* key : {kControlKey, kPageKey, kProgIdKey, kTypeLibKey, kDispatchKey, kEventsKey})
        ReadTree(classes, key, entries);
    RegCloseKey(classes);
    return entries;
}

// The path as the module sees itself: the one registration writes.
std::string LoadedOcxPath()
{
    char full[MAX_PATH];
    GetFullPathNameA(OcxPath().c_str(), MAX_PATH, full, nullptr);
    return full;
}

class ControlRegistration : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetClassesKeyDacl(kTypeLibVersionKey, kFullAccessDacl);
        module_.Unregister();
        module_.Install(false, L"user");
        wine_test::DeleteSettingsKey();
    }

    bool NoClassRegistered() const
    {
        return !ClassesKeyExists(kControlKey) && !ClassesKeyExists(kPageKey) && !ClassesKeyExists(kProgIdKey);
    }

    COleApartment apartment_;
    COcxModule module_;
};

}  // namespace

TEST_F(ControlRegistration, RegSvr32WritesEveryFactAndUnregistersThemAll)
{
    const std::string ocx = LoadedOcxPath();
    ASSERT_EQ(RunProgram("regsvr32.exe /s \"" + ocx + "\"", nullptr), 0u);

    EXPECT_EQ(ClassesValue(kControlKey), "Vantorima Control");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "ProgID")), "VANTORIMA.VantorimaCtrl.1");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "InprocServer32")), ocx);
    EXPECT_EQ(ClassesValue(Key(kControlKey, "InprocServer32"), "ThreadingModel"), "Apartment");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "ToolboxBitmap32")), ocx + ", 1");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "MiscStatus")), "0");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "MiscStatus\\1")), "131473");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "Control")), "");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "TypeLib")), "{86A4EEF8-5C3E-4114-BE18-7809B34019A1}");
    EXPECT_EQ(ClassesValue(Key(kControlKey, "Version")), "1.0");
    // Not insertable: it stays out of "Insert Object" lists.
    EXPECT_FALSE(ClassesKeyExists(Key(kControlKey, "Insertable")));
    EXPECT_EQ(ClassesValue(kProgIdKey), "Vantorima Control");
    EXPECT_EQ(ClassesValue(Key(kProgIdKey, "CLSID")), "{3693842E-C439-4246-B56C-4529932A9ABA}");

    EXPECT_EQ(ClassesValue(kPageKey), "Vantorima Property Page");
    EXPECT_EQ(ClassesValue(Key(kPageKey, "InprocServer32")), ocx);
    EXPECT_FALSE(ClassesKeyExists("VANTORIMA.VantorimaPropPage.1"));

    EXPECT_EQ(ClassesValue(kTypeLibVersionKey), "Vantorima ActiveX Control module");
    EXPECT_EQ(ClassesValue(Key(kTypeLibVersionKey, kPlatformKey)), ocx);
    // LIBFLAG_FCONTROL | LIBFLAG_FHASDISKIMAGE
    EXPECT_EQ(ClassesValue(Key(kTypeLibVersionKey, "FLAGS")), "10");
    EXPECT_EQ(ClassesValue(kDispatchKey), "_DVantorima");

    ASSERT_EQ(RunProgram("regsvr32.exe /s /u \"" + ocx + "\"", nullptr), 0u);
    EXPECT_TRUE(NoClassRegistered());
    EXPECT_FALSE(ClassesKeyExists(kTypeLibKey + std::string("\\1.0")));
    EXPECT_FALSE(ClassesKeyExists(kDispatchKey));
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(module_.Unregister(), S_OK);
}

TEST_F(ControlRegistration, PerUserRegistrationWritesTheSameEntriesForTheUserAlone)
{
    if (!VANTORIMA_PER_USER)
        GTEST_SKIP() << "built without VANTORIMA_PER_USER";
    for (const wchar_t* command : {static_cast<const wchar_t*>(nullptr), L"", L"machine", L"users"}) {
        EXPECT_EQ(module_.Install(true, command), E_INVALIDARG);
        EXPECT_EQ(module_.Install(false, command), E_INVALIDARG);
    }
    EXPECT_TRUE(Registration(HKEY_CURRENT_USER).empty());

    const std::string ocx = LoadedOcxPath();
    ASSERT_EQ(RunProgram("regsvr32.exe /s \"" + ocx + "\"", nullptr), 0u);
    const Entries machine = Registration(HKEY_LOCAL_MACHINE);
    // Not two empty readings: the library's path and its interfaces are in.
    ASSERT_EQ(machine.count(Key(kTypeLibVersionKey, kPlatformKey) + "|"), 1u);
    ASSERT_EQ(machine.count(std::string(kEventsKey) + "|"), 1u);
    EXPECT_TRUE(Registration(HKEY_CURRENT_USER).empty());

    ASSERT_EQ(RunProgram("regsvr32.exe /s /n /i:user \"" + ocx + "\"", nullptr), 0u);
    EXPECT_EQ(Registration(HKEY_CURRENT_USER), machine);
    EXPECT_EQ(Registration(HKEY_LOCAL_MACHINE), machine);

    // Each way's unregistration removes its own entries and no others.
    ASSERT_EQ(RunProgram("regsvr32.exe /s /u /n /i:user \"" + ocx + "\"", nullptr), 0u);
    EXPECT_TRUE(Registration(HKEY_CURRENT_USER).empty());
    EXPECT_EQ(Registration(HKEY_LOCAL_MACHINE), machine);
    ASSERT_EQ(RunProgram("regsvr32.exe /s /n /i:user \"" + ocx + "\"", nullptr), 0u);
    ASSERT_EQ(RunProgram("regsvr32.exe /s /u \"" + ocx + "\"", nullptr), 0u);
    EXPECT_TRUE(Registration(HKEY_LOCAL_MACHINE).empty());
    EXPECT_EQ(Registration(HKEY_CURRENT_USER), machine);
    EXPECT_EQ(module_.Install(false, L"user"), S_OK);
    EXPECT_TRUE(Registration(HKEY_CURRENT_USER).empty());
    EXPECT_EQ(module_.Install(false, L"user"), S_OK);
}

TEST_F(ControlRegistration, ATypeLibraryThatCannotBeRegisteredRegistersNoClass)
{
    // The library's version key exists and may only be read.
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CLASSES_ROOT, kTypeLibVersionKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(SetClassesKeyDacl(kTypeLibVersionKey, kReadOnlyDacl));

    EXPECT_EQ(module_.Register(), SELFREG_E_TYPELIB);
    EXPECT_TRUE(NoClassRegistered());
    EXPECT_NE(RunProgram("regsvr32.exe /s \"" + LoadedOcxPath() + "\"", nullptr), 0u);
    EXPECT_TRUE(NoClassRegistered());

    ASSERT_TRUE(SetClassesKeyDacl(kTypeLibVersionKey, kFullAccessDacl));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kTypeLibVersionKey);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, kTypeLibKey);
}

TEST_F(ControlRegistration, ATypeLibraryThatCannotBeUnregisteredKeepsTheClasses)
{
    ASSERT_EQ(module_.Register(), S_OK);
    ASSERT_TRUE(SetClassesKeyDacl(kTypeLibVersionKey, kReadOnlyDacl));
    EXPECT_EQ(module_.Unregister(), SELFREG_E_TYPELIB);
    EXPECT_TRUE(ClassesKeyExists(kControlKey));
    EXPECT_TRUE(ClassesKeyExists(kPageKey));
    EXPECT_TRUE(ClassesKeyExists(kProgIdKey));

    ASSERT_TRUE(SetClassesKeyDacl(kTypeLibVersionKey, kFullAccessDacl));
    EXPECT_EQ(module_.Unregister(), S_OK);
    EXPECT_TRUE(NoClassRegistered());
    EXPECT_FALSE(ClassesKeyExists(kTypeLibVersionKey));
}

TEST_F(ControlRegistration, AClassThatCannotBeRegisteredFailsAfterTheTypeLibrary)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kControlKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(SetClassesKeyDacl(kControlKey, kReadOnlyDacl));
    const wine_test::CTraceCapture trace;
    EXPECT_EQ(module_.Register(), SELFREG_E_CLASS);
    // The trace says more than SELFREG_E_CLASS: which call failed, where,
    // and with what code.
    EXPECT_TRUE(wine_test::TracedFailure(trace.Last("ClassObject.cpp("), "error 5")) << trace.Last("ClassObject.cpp(");
    // What succeeded before the failure stays.
    EXPECT_TRUE(ClassesKeyExists(kTypeLibVersionKey));
    ASSERT_TRUE(SetClassesKeyDacl(kControlKey, kFullAccessDacl));
    EXPECT_EQ(module_.Unregister(), S_OK);
    EXPECT_TRUE(NoClassRegistered());
}

TEST_F(ControlRegistration, ClassObjectsAndTheLockCount)
{
    CInterfacePtr<IUnknown> nothing;
    EXPECT_EQ(module_.GetClassObject(IID_IDispatch, IID_IClassFactory, nothing.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(nothing);
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);

    CInterfacePtr<IClassFactory> factory;
    ASSERT_EQ(module_.GetClassObject(CLSID_Vantorima, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);  // a class object reference holds it
    CInterfacePtr<IUnknown> aggregated;
    CInterfacePtr<IUnknown> outer(factory.Get());
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, aggregated.PutVoid()), CLASS_E_NOAGGREGATION);
    CInterfacePtr<IOleObject> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, control.PutVoid()), S_OK);
    outer.Reset();
    factory.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);  // a control lives
    control.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);

    ASSERT_EQ(module_.GetClassObject(kPageClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);  // locked
    ASSERT_EQ(module_.GetClassObject(kPageClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    CInterfacePtr<IPropertyPage> page;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, page.PutVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);  // a page lives
    page.Reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(ControlRegistration, TheTypeLibraryIsReachedThroughItsRegistration)
{
    CInterfacePtr<IDispatch> control;
    ASSERT_EQ(module_.CreateControl(IID_IDispatch, control.PutVoid()), S_OK);
    UINT count = 0;
    EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    CInterfacePtr<ITypeInfo> info;
    EXPECT_FAILED(control->GetTypeInfo(0, LOCALE_NEUTRAL, info.Put()));
    CInterfacePtr<IProvideClassInfo2> classInfo;
    ASSERT_EQ(control.As(&classInfo), S_OK);
    EXPECT_FAILED(classInfo->GetClassInfo(info.Put()));

    ASSERT_EQ(module_.Register(), S_OK);
    EXPECT_EQ(control->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(control->GetTypeInfo(1, LOCALE_NEUTRAL, info.Put()), DISP_E_BADINDEX);
    ASSERT_EQ(control->GetTypeInfo(0, LOCALE_NEUTRAL, info.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, DIID__DVantorima));
    EXPECT_EQ(attributes->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FHIDDEN);
    info->ReleaseTypeAttr(attributes);

    CInterfacePtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.Put(), &index), S_OK);
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(libraryAttributes->guid, LIBID_VANTORIMALib));
    EXPECT_EQ(libraryAttributes->lcid, 0u);
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    EXPECT_TRUE(libraryAttributes->wLibFlags & LIBFLAG_FCONTROL);
    library->ReleaseTLibAttr(libraryAttributes);

    ASSERT_EQ(classInfo->GetClassInfo(info.Put()), S_OK);
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Vantorima));
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FCONTROL);
    info->ReleaseTypeAttr(attributes);
    GUID events = GUID_NULL;
    EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID__DVantorimaEvents));

    // Names resolve from the control's own table, whatever their case.
    DISPID ids[2] = {};
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"STRSERVER"), const_cast<LPOLESTR>(L"x")};
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_NEUTRAL, ids), S_OK);
    EXPECT_EQ(ids[0], 4);
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, names, 2, LOCALE_NEUTRAL, ids), DISP_E_UNKNOWNNAME);
    LPOLESTR about[] = {const_cast<LPOLESTR>(L"aboutbox")};
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, about, 1, LOCALE_NEUTRAL, ids), S_OK);
    EXPECT_EQ(ids[0], DISPID_ABOUTBOX);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"strPassword")};
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_NEUTRAL, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST_F(ControlRegistration, UnloadingLeavesNoWindowClassBehind)
{
    // A control in place registers the module's window class.
    HWND host = CreateHostWindow("unload", false);
    {
        CInterfacePtr<IUnknown> control;
        ASSERT_EQ(module_.CreateControl(IID_IUnknown, control.PutVoid()), S_OK);
        CInterfacePtr<IUnknown> container;
        ASSERT_EQ(AtlAxAttachControl()(control.Get(), host, container.Put()), S_OK);
        ASSERT_TRUE(FindControlWindow(host));
        DestroyWindow(host);
    }
    const HMODULE loaded = module_.Handle();
    WNDCLASSEXA info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExA(loaded, "VantorimaWindow", &info));
    ASSERT_EQ(module_.CanUnloadNow(), S_OK);
    ASSERT_TRUE(module_.Unload());
    EXPECT_FALSE(GetClassInfoExA(loaded, "VantorimaWindow", &info));
}

TEST_F(ControlRegistration, TheModuleFileCarriesItsNameVersionAndResources)
{
    const std::string path = OcxPath();
    DWORD ignored = 0;
    std::string block(GetFileVersionInfoSizeA(path.c_str(), &ignored), '\0');
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
    auto text = [&](const char* name) {
        char* value = nullptr;
        UINT length = 0;
        const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            return std::string("<missing>");
        return std::string(value, length > 0 ? length - 1 : 0);
    };
    EXPECT_EQ(text("OLESelfRegister"), "");
    EXPECT_EQ(text("FileVersion"), "1, 0, 0, 2");
    EXPECT_EQ(text("FileDescription"), "Vantorima ActiveX Control Module");
    EXPECT_EQ(text("InternalName"), "Vantorima");
    EXPECT_EQ(text("OriginalFilename"), "Vantorima.OCX");

    // Its export table's own name, and the undecorated entry points (DllInstall
    // with per-user registration).
    const HMODULE module = module_.Handle();
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), "VANTORIMA.OCX");
    EXPECT_EQ(exports->NumberOfNames, VANTORIMA_PER_USER ? 5u : 4u);
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow"})
        EXPECT_TRUE(GetProcAddress(module, name)) << name;
    EXPECT_EQ(GetProcAddress(module, "DllInstall") != nullptr, VANTORIMA_PER_USER != 0);

    // Every resource is Chinese (PRC).
    const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    EXPECT_TRUE(FindResourceExA(module, RT_DIALOG, MAKEINTRESOURCEA(1), chinese));
    EXPECT_TRUE(FindResourceExA(module, RT_DIALOG, MAKEINTRESOURCEA(200), chinese));
    EXPECT_TRUE(FindResourceExA(module, "TYPELIB", MAKEINTRESOURCEA(1), chinese));
    EXPECT_TRUE(FindResourceExA(module, RT_GROUP_ICON, MAKEINTRESOURCEA(1), chinese));
    EXPECT_TRUE(FindResourceExA(module, RT_BITMAP, MAKEINTRESOURCEA(1), chinese));
    EXPECT_TRUE(FindResourceExA(module, RT_VERSION, MAKEINTRESOURCEA(1), chinese));
    // Strings 1, 2 and 200 live in string blocks 1 and 13.
    EXPECT_TRUE(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(1), chinese));
    EXPECT_TRUE(FindResourceExA(module, RT_STRING, MAKEINTRESOURCEA(13), chinese));
    char caption[32] = {};
    EXPECT_GT(LoadStringA(module, 200, caption, sizeof caption), 0);
    EXPECT_STREQ(caption, "General");

    // The toolbox bitmap: 16 x 15 pixels, 16 colours.
    HBITMAP bitmap =
        static_cast<HBITMAP>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_TRUE(bitmap);
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 16);
    EXPECT_EQ(info.bmHeight, 15);
    EXPECT_EQ(info.bmBitsPixel, 4);
    DeleteObject(bitmap);
    // The icon in both sizes.
    for (int side : {32, 16}) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, side, side, 0));
        EXPECT_TRUE(icon) << side;
        DestroyIcon(icon);
    }
}
