// The module's entry points: the control's type library and its two class
// rows, handed to the module server, which does the work.
#include <windows.h>

#include "BuildConfig.h"
#include "control/ClassIds.h"
#include "control/VantorimaCtrl.h"
#include "control/VantorimaPropPage.h"
#include "framework/com/ModuleServer.h"
#include "res/Resource.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

// The module's TYPELIB resource 1.
const TypeLibrary kTypeLibrary = {&LIBID_VANTORIMALib, 1, 0};

const ClassRow kControlRow = {
    .clsid = &CLSID_Vantorima,
    .progId = kControlProgId,
    .typeNameId = IDS_VANTORIMA,
    .threadingModel = "Apartment",
    .typeLibrary = &kTypeLibrary,
    .toolboxBitmapId = IDB_VANTORIMA,
    .miscStatus = CVantorimaCtrl::kMiscStatus,
    .create = &CreateFromRow<CVantorimaCtrl>,
};

// A property page is registered by class id and type name alone: its ProgID,
// VANTORIMA.VantorimaPropPage.1, is not written.
const ClassRow kPropPageRow = {
    .clsid = &CLSID_VantorimaPropPage,
    .typeNameId = IDS_VANTORIMA_PPG,
    .create = &CreateFromRow<CVantorimaPropPage>,
};

CComStaticObject<CClassObject> g_controlClassObject(kControlRow);
CComStaticObject<CClassObject> g_propPageClassObject(kPropPageRow);
CClassObject* const kClassObjects[] = {&g_controlClassObject, &g_propPageClassObject};

const CModuleServer kServer(kTypeLibrary, kClassObjects);

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        TraceSetProgram(TraceProgram::kControl);
    return CModuleServer::OnDllMain(instance, reason, reserved);
}

STDAPI DllRegisterServer()
{
    return kServer.Register();
}

STDAPI DllUnregisterServer()
{
    return kServer.Unregister();
}

#if VANTORIMA_PER_USER
// regsvr32 /n /i:user (and /u /n /i:user): the same entries for the current
// user alone, which needs no administrator.
STDAPI DllInstall(BOOL install, PCWSTR commandLine)
{
    return kServer.Install(install != FALSE, commandLine);
}
#endif

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return kServer.GetClassObject(clsid, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return CModuleServer::CanUnloadNow();
}

}  // extern "C"
