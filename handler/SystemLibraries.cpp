#include "handler/SystemLibraries.h"

#include <windows.h>

#include <delayimp.h>

#include "framework/sys/Module.h"
#include "handler/ExitCodes.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

// The load configuration: DependentLoadFlags (the field the headers call
// Reserved1) makes Windows 10 and later load the libraries that our imports
// import from System32 as well, before any of our code runs.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfiguration()
{
    IMAGE_LOAD_CONFIG_DIRECTORY configuration = {};
    configuration.Size = sizeof configuration;
    configuration.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return configuration;
}

template <typename T>
T At(RVA rva)
{
    return reinterpret_cast<T>(reinterpret_cast<BYTE*>(ModuleInstance()) + rva);
}

// function: null when the library itself could not be loaded.
[[noreturn]] void Unavailable(const char* library, const char* function)
{
    TraceOut(TraceLine::kSystemLibraryMissing, library, function ? "!" : "", function ? function : "", GetLastError());
    ExitProcess(kExitUpdateFailed);
}

}  // namespace

// The linker points the image's load configuration at this symbol.
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = LoadConfiguration();

// The delay-load helper that the delayed imports call on a function's first
// use: its library from System32, then the function, written into its slot.
// A library or function that the system lacks ends the program (traced): no
// caller could go on without it.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot)
{
    // The linker's delayed imports give offsets from the image (dlattrRva).
    const char* library = At<const char*>(descriptor->rvaDLLName);
    auto* module = At<HMODULE*>(descriptor->rvaHmod);
    if (!*module) {
        wchar_t name[MAX_PATH];
        int i = 0;
        for (; library[i] && i < MAX_PATH - 1; ++i)
            name[i] = static_cast<unsigned char>(library[i]);
        name[i] = L'\0';
        const HMODULE loaded = LoadSystemLibrary(name);
        if (!loaded)
            Unavailable(library, nullptr);
        // Two threads may both load it: the system counts both loads.
        *module = loaded;
    }
    const auto* thunk = At<const IMAGE_THUNK_DATA*>(descriptor->rvaINT) + (slot - At<FARPROC*>(descriptor->rvaIAT));
    const char* function = IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal)
        ? MAKEINTRESOURCEA(IMAGE_ORDINAL(thunk->u1.Ordinal))
        : reinterpret_cast<const char*>(At<const IMAGE_IMPORT_BY_NAME*>(thunk->u1.AddressOfData)->Name);
    const FARPROC address = GetProcAddress(*module, function);
    if (!address)
        Unavailable(library, IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal) ? "<ordinal>" : function);
    *slot = address;
    return address;
}

void UseSystemLibrariesOnly()
{
    // Looked up: Windows 7 has it only with KB2533623. Without it, each
    // library still comes from System32 by its full path (LoadSystemLibrary).
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto set = ProcAddress<SetDirectories>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (set)
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Neither the current folder (the browser's) nor one that a library set.
    SetDllDirectoryW(L"");
}
