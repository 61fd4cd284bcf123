// VantorimaLaunch.exe: the link handler, the second front door beside the
// control. The browser hands it a signed link through the registered scheme:
//   VantorimaLaunch.exe "<scheme>:launch?v=1&id=...&sig=..."
// installers register it:
//   VantorimaLaunch.exe /register [/machine]   |   /unregister [/machine]
// and, as the launcher a page offers, it installs itself per user:
//   VantorimaLaunch.exe [/install [/quiet]]    |   /uninstall [/quiet]
// A renewal starts the new copy with /renewed "<link>".
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "framework/sys/AnsiText.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "handler/AdminOnlyPath.h"
#include "handler/LinkLaunch.h"
#include "handler/LinkReport.h"
#include "handler/ProgramFile.h"
#include "handler/SchemeRegistration.h"
#include "handler/SelfInstall.h"
#include "handler/SystemLibraries.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

// Every user's browser would run this program: only administrators may be
// able to change it, its folder (where its libraries are looked for), or
// any folder above it, and it must be where its path says.
bool AdminOnlyProgram(const WideText& program)
{
    const char* what = "";
    if (const char* fault = AdminOnlyProgramFault(program.data(), what)) {
        TraceOut(TraceLine::kMachineRegistrationRefused, what, fault);
        return false;
    }
    return true;
}

int Registration(bool add, const wchar_t* scope)
{
    SchemeScope where = SchemeScope::User;
    if (scope) {
        if (lstrcmpiW(scope, L"/machine") != 0) {
            TraceOut(TraceLine::kUnknownSwitch);
            return kExitRegistration;
        }
        where = SchemeScope::Machine;
    }
    const WideText program = ProgramPath();
    if (add && program.size() <= 1)
        return kExitRegistration;  // the system could not tell it (traced)
    if (add && where == SchemeScope::Machine && !AdminOnlyProgram(program))
        return kExitRegistration;
    const LONG result = add ? RegisterScheme(where, program.data()) : UnregisterScheme(where);
    TraceOut(TraceLine::kRegistration, add ? "register" : "unregister", scope ? "machine" : "user",
             static_cast<long>(result));
    return result == ERROR_SUCCESS ? kExitLaunched : kExitRegistration;
}

// /install and /uninstall, each with an optional /quiet.
int Installation(bool install, int argc, wchar_t** argv)
{
    const bool quiet = argc == 3 && lstrcmpiW(argv[2], L"/quiet") == 0;
    if (argc > 3 || (argc == 3 && !quiet)) {
        TraceOut(TraceLine::kUnknownSwitch);
        return kExitRegistration;
    }
    return install ? InstallSelf(quiet) : UninstallSelf(quiet);
}

int Run(int argc, wchar_t** argv)
{
    // As a player runs it from the browser's download folder.
    if (argc < 2)
        return InstallSelf(false);
    const wchar_t* first = argv[1];
    if (*first == L'\0')
        return RefuseLink(LinkRefusal::kNoLink);
    const bool install = lstrcmpiW(first, L"/install") == 0;
    if (install || lstrcmpiW(first, L"/uninstall") == 0)
        return Installation(install, argc, argv);
    if (lstrcmpiW(first, L"/uninstall-finish") == 0 && argc == 3)
        return FinishUninstall(argv[2]);
    const bool add = lstrcmpiW(first, L"/register") == 0;
    if (add || lstrcmpiW(first, L"/unregister") == 0) {
        if (argc > 3)
            return kExitRegistration;
        return Registration(add, argc == 3 ? argv[2] : nullptr);
    }
    // The copy that a renewal installed, with the link it could not read.
    const bool renewed = lstrcmpiW(first, L"/renewed") == 0 && argc == 3;
    if (renewed)
        first = argv[2];
    else if (argc > 2)
        return RefuseLink(LinkRefusal::kMoreThanOneArgument);
    std::string link;
    if (!Utf8FromWide(first, link))
        return RefuseLink(LinkRefusal::kNotText);
    return RunLink(link, renewed);
}

}  // namespace

// No COM apartment: the shell is only asked to start programs, and an
// apartment's hidden window would cost the launch a display connection.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    TraceSetProgram(TraceProgram::kLauncher);
    UseSystemLibrariesOnly();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const CLocalMemory arguments(argv);
    if (LOG_LAST_ERROR_IF(!argv))
        return RefuseLink(LinkRefusal::kNoCommandLine);
    const int code = Run(argc, argv);
    // The game never waits for the report; the program's end, a little.
    FinishLinkReport();
    return code;
}
