#include "handler/SelfRenewal.h"

#include <memory>
#include <string>

#include "BuildConfig.h"
#include "framework/sys/AnsiText.h"
#include "framework/sys/LocalFile.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "handler/LinkLaunch.h"
#include "handler/LinkReport.h"
#include "handler/ProgramFile.h"
#include "handler/SelfInstall.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "download/DownloadFolder.h"
#include "download/InstallerSignature.h"
#include "download/WebGrab.h"

namespace {

const char kAgent[] = "Quessel";
// How long the downloaded launcher may take to install itself.
constexpr DWORD kInstallWait = 60000;

// Runs program with arguments; its exit code, or STILL_ACTIVE when it could
// not start or did not end in time. wait 0: started and let go (0).
DWORD Run(const wchar_t* program, WideText command, DWORD wait)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!LOG_IF_WIN32_BOOL_FALSE(
            CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)))
        return STILL_ACTIVE;
    const CKernelHandle thread(process.hThread), running(process.hProcess);
    DWORD code = STILL_ACTIVE;
    if (wait == 0)
        return 0;
    const DWORD waited = WaitForSingleObject(running.Get(), wait);
    LOG_LAST_ERROR_IF(waited == WAIT_FAILED);
    if (waited == WAIT_OBJECT_0)
        LOG_IF_WIN32_BOOL_FALSE(GetExitCodeProcess(running.Get(), &code));
    return code;
}

}  // namespace

int RenewForLink(std::string_view link)
{
    ReportLink(LinkOutcome::kRenewing);
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    LOG_LAST_ERROR_IF(length == 0);
    CDownloadFolder folder;
    folder.Create(std::string(temp, length < sizeof temp ? length : 0));
    if (folder.Path().empty())
        return RefuseLink(LinkRefusal::kRenewalNoFolder, LinkOutcome::kRenewal);

    CWebGrab engine;
    engine.SetFileCheck(kInstallerCheck);
    const std::string url = std::string(VANTORIMA_UPDATE_ORIGIN "/service/") + kLauncherName;
    std::string path;
    std::unique_ptr<CLocalFile> checked;
    if (engine.GetFile(url, folder.Path() + "\\" + kLauncherName, kAgent, nullptr))
        checked = engine.TakeDoneFile(path);
    if (!checked)
        return RefuseLink(LinkRefusal::kRenewalNotChecked, LinkOutcome::kRenewal);
    const unsigned long long served = OpenProgramVersion(checked->Get());
    if (served <= ProgramVersion(nullptr))
        return RefuseLink(LinkRefusal::kRenewalNotNewer, LinkOutcome::kRenewal);
    // Started while the checked file is still held, so nobody could swap it.
    const WideText launcher = WideFromAnsi(path.c_str());
    const DWORD installed =
        Run(launcher.data(), WideJoin({L"\"", launcher.data(), L"\" /install /quiet"}), kInstallWait);
    checked.reset();
    if (installed != 0 || ProgramVersion(InstalledProgram().data()) != served)
        return RefuseLink(LinkRefusal::kRenewalNotInstalled, LinkOutcome::kRenewal);
    TraceOut(TraceLine::kRenewed);
    // The link is ASCII: the reader takes no other character.
    const WideText program = InstalledProgram();
    WideText command = WideJoin({L"\"", program.data(), L"\" /renewed \""});
    command.pop_back();
    for (char c : link)
        command.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    command.push_back(L'"');
    command.push_back(L'\0');
    // "renewing" reaches the service before the new copy's own report.
    FinishLinkReport();
    if (Run(program.data(), command, 0) != 0)
        return RefuseLink(LinkRefusal::kRenewalNotStarted, LinkOutcome::kRenewal);
    return kExitLaunched;
}
