#include "handler/SelfRenewal.h"

#include <shlwapi.h>

#include <ctime>
#include <memory>
#include <string>

#include "BuildConfig.h"
#include "framework/sys/AnsiText.h"
#include "framework/sys/LocalFile.h"
#include "framework/sys/Module.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "handler/LinkReport.h"
#include "handler/ProgramFile.h"
#include "handler/SelfInstall.h"
#include "link/NonceLedger.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "download/DownloadFolder.h"
#include "download/InstallerSignature.h"
#include "download/WebGrab.h"

namespace {

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

// The running launcher's processor, from its own image.
WORD OwnMachine()
{
    const auto* base = reinterpret_cast<const BYTE*>(ModuleInstance());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew)->FileHeader.Machine;
}

bool SameText(const WideText& text, const wchar_t* expected)
{
    return !text.empty() && lstrcmpiW(text.data(), expected) == 0;
}

// Whether the held, checked file is our launcher, for this processor, newer
// than this one: nullptr, or the refusal's reason.
const char* NotANewerLauncher(HANDLE file, unsigned long long& version)
{
    const ProgramIdentity served = OpenProgramIdentity(file);
    version = served.version;
    if (served.machine != OwnMachine() || !SameText(served.originalFilename, kLauncherFileName) ||
        !SameText(served.productName, kLauncherProductName))
        return LinkRefusal::kRenewalNotALauncher;
    if (served.version <= ProgramVersion(nullptr))
        return LinkRefusal::kRenewalNotNewer;
    return nullptr;
}

// In a build that is not signed, "self" in an unsigned launcher lets any
// trusted publisher pass the installer's check: a launcher renews only from
// a signer that self truly names, or that the build names itself.
bool PassedAsUnsignedSelf(const std::string& path, HANDLE file)
{
    return !VANTORIMA_SIGNED_BUILD &&
        VerifyInstallerSignature(WideFromAnsi(path.c_str()).data(), InstallerSigners(), file).selfUnsigned;
}

}  // namespace

const char* RenewalPolicyFault(const char* signers, bool signedBuild, const char* updateOrigin)
{
    // Named: an entry other than blanks; "off" checks nothing at all.
    bool named = false;
    for (const char* at = signers; *at && !named; ++at)
        named = *at != ' ' && *at != '\t' && *at != ';';
    if (!named || lstrcmpiA(signers, "off") == 0)
        return LinkRefusal::kRenewalNoSigners;
    if (signedBuild && StrCmpNIA(updateOrigin, "https://", 8) != 0)
        return LinkRefusal::kRenewalNotHttps;
    return nullptr;
}

RenewalRefusal RenewForLink(std::string_view link, const LinkFields& fields)
{
    if (const char* fault =
            RenewalPolicyFault(VANTORIMA_INSTALLER_SIGNERS, VANTORIMA_SIGNED_BUILD != 0, VANTORIMA_UPDATE_ORIGIN))
        return {fault, LinkOutcome::kRenewal};
    // Without it, any served version would count as newer.
    if (ProgramVersion(nullptr) == 0)
        return {LinkRefusal::kRenewalOwnVersion, LinkOutcome::kRenewal};
    // Once per link: a replayed one downloads nothing.
    switch (ClaimNonce(fields.nonce, fields.exp, static_cast<long long>(std::time(nullptr)), NonceUse::Renewal)) {
    case NonceClaim::Claimed:
        break;
    case NonceClaim::UsedBefore:
        return {LinkRefusal::kNonceUsed, LinkOutcome::kUsed};
    case NonceClaim::Unavailable:
        return {LinkRefusal::kNoLedger, LinkOutcome::kLedger};
    }
    ReportLink(LinkOutcome::kRenewing);

    CDownloadFolder folder;
    folder.Create(TempPath());
    if (folder.Path().empty())
        return {LinkRefusal::kRenewalNoFolder, LinkOutcome::kRenewal};

    CWebGrab engine;
    engine.SetFileCheck(kInstallerCheck);
    const std::string url = std::string(VANTORIMA_UPDATE_ORIGIN "/service/") + kLauncherName;
    std::string path;
    std::unique_ptr<CLocalFile> checked;
    if (engine.GetFile(url, folder.Path() + "\\" + kLauncherName, VANTORIMA_AGENT, nullptr))
        checked = engine.TakeDoneFile(path);
    if (!checked)
        return {LinkRefusal::kRenewalNotChecked, LinkOutcome::kRenewal};
    if (PassedAsUnsignedSelf(path, checked->Get()))
        return {LinkRefusal::kRenewalUnsignedSelf, LinkOutcome::kRenewal};
    unsigned long long served = 0;
    if (const char* fault = NotANewerLauncher(checked->Get(), served))
        return {fault, LinkOutcome::kRenewal};
    // Started while the checked file is still held, so nobody could swap it.
    const WideText launcher = WideFromAnsi(path.c_str());
    const DWORD installed =
        Run(launcher.data(), WideJoin({L"\"", launcher.data(), L"\" /install /quiet"}), kInstallWait);
    checked.reset();
    if (installed != 0 || ProgramVersion(InstalledProgram().data()) != served)
        return {LinkRefusal::kRenewalNotInstalled, LinkOutcome::kRenewal};
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
        return {LinkRefusal::kRenewalNotStarted, LinkOutcome::kRenewal};
    return {nullptr, nullptr};
}
