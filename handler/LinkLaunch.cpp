#include "handler/LinkLaunch.h"

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

#include "BuildConfig.h"
#include "dialog/DownLoadDlg.h"
#include "framework/sys/AnsiText.h"
#include "framework/sys/RegKey.h"
#include "framework/sys/Result.h"
#include "framework/sys/UniqueHandle.h"
#include "handler/LinkReport.h"
#include "handler/SelfRenewal.h"
#include "launch/SettingsStore.h"
#include "link/NonceLedger.h"
#include "link/SignedLink.h"
#include "support/MessageCaption.h"
#include "support/Trace.h"
#include "support/TraceLines.h"
#include "terminator/ClientTerminator.h"
#include "terminator/ProcessList.h"

namespace {

const char kRefusedText[] = "链接无效或已过期。\r\n\r\n请回到网页重新登录后再试。";
constexpr char kNameSwitch[] = " /NAME:";

// The account the client last started with: the /NAME: of SaveStart, read
// without creating the key; false when there is none.
bool SavedAccount(std::string& name)
{
    CRegKey key;
    std::vector<char> text;
    DWORD type = REG_NONE;
    if (key.Open(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        key.Read("SaveStart", text, &type) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    // Up to its first zero: the value may hold no terminator, or more after it.
    const std::string saved(text.begin(), std::find(text.begin(), text.end(), '\0'));
    const size_t at = saved.find(kNameSwitch);
    if (at == std::string::npos)
        return false;
    const size_t start = at + sizeof kNameSwitch - 1;
    name = saved.substr(start, saved.find(' ', start) - start);
    return !name.empty();
}

// Anyone with an account can sign a link in their own name and send it to a
// player: the client would sign in as the sender, and stay so. A link for
// another account than the client's last one is acted on only when the
// player says so.
bool AccountSwitchAccepted(const std::string& id)
{
    std::string saved;
    if (!SavedAccount(saved) || saved == id)
        return true;
    // Both names, so that the player sees which account the link would swap
    // for which (a look-alike name alone would pass for their own).
    const std::string question = "VOK 围棋上次以 " + saved + " 的身份登录。\r\n\r\n改以 " + id + " 的身份登录吗？";
    const int answer =
        ShowPlayerBox(nullptr, question.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND);
    LOG_LAST_ERROR_IF(answer == 0);
    const bool yes = answer == IDYES;
    TraceOut(TraceLine::kAccountSwitch, yes ? "accepted" : "declined");
    return yes;
}

// The ids of the client's running processes, at most 16.
size_t ClientProcesses(DWORD (&ids)[16])
{
    std::vector<ProcessEntry> table(1024);
    const size_t count = ListProcessesSnapshot(table.data(), table.size());
    size_t found = 0;
    for (size_t i = 0; i < count && found < 16; ++i)
        if (lstrcmpiA(table[i].exeName, kClientExeName) == 0)
            ids[found++] = table[i].processId;
    return found;
}

bool ClientRunning()
{
    DWORD ids[16];
    return ClientProcesses(ids) > 0;
}

struct ClientWindowSearch {
    DWORD ids[16];
    size_t count;
    HWND found;
};

BOOL CALLBACK FindClientWindow(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<ClientWindowSearch*>(context);
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    for (size_t i = 0; i < search.count; ++i)
        if (search.ids[i] == id) {
            search.found = window;
            return FALSE;
        }
    return TRUE;
}

// A running client's window (visible, top-level, unowned) in front, restored
// when minimised; false when no client runs. A client without a window yet
// (still starting) counts as running.
bool BringClientToFront()
{
    ClientWindowSearch search = {};
    search.count = ClientProcesses(search.ids);
    if (search.count == 0)
        return false;
    EnumWindows(&FindClientWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
        if (IsIconic(search.found))
            ShowWindow(search.found, SW_RESTORE);
        // Windows may keep another program in front; the player then sees the game's button flash.
        SetForegroundWindow(search.found);
    }
    return true;
}

// After the update dialog: once the installer it started has ended well, the
// client it installed starts as if the link had found it (a fresh token).
// Nothing is shown and nothing held but the installer's process meanwhile.
// The link's final outcome.
const char* StartInstalledClient(HANDLE installer, const LaunchProperties& properties)
{
    DWORD code = STILL_ACTIVE;
    const DWORD waited = WaitForSingleObject(installer, VANTORIMA_INSTALL_WAIT * 1000u);
    LOG_LAST_ERROR_IF(waited == WAIT_FAILED);
    if (waited != WAIT_OBJECT_0 || !LOG_IF_WIN32_BOOL_FALSE(GetExitCodeProcess(installer, &code)) || code != 0) {
        TraceOut(TraceLine::kInstallerEnded, static_cast<unsigned long>(code));
        return LinkOutcome::kFailedInstaller;
    }
    std::string workDir;
    CSettingsStore().ReadWorkDir(workDir);
    if (workDir.empty() || GetFileAttributesA((workDir + "\\" + kClientExeName).c_str()) == INVALID_FILE_ATTRIBUTES) {
        TraceOut(TraceLine::kNoClientInstalled);
        return LinkOutcome::kFailedInstaller;
    }
    if (ClientRunning()) {
        TraceOut(TraceLine::kClientRuns);
        return LinkOutcome::kRunning;
    }
    // The client is there: the sequence starts it and opens no dialog.
    CLaunchSequence launch([] {}, [](HWND, const std::function<void()>&) { return CLaunchSequence::DialogPtr(); });
    const bool started = launch.Launch(nullptr, properties);
    TraceOut(started ? TraceLine::kClientStarted : TraceLine::kClientNotStarted);
    return started ? LinkOutcome::kStarted : LinkOutcome::kFailedClient;
}

// What the service hears of a refusal of checked: nothing of a link whose
// signature did not verify (nobody's); else the word that the refusal names,
// or that of the reader's refusal after the signature: its freshness, or a
// format that this launcher does not read.
const char* RefusalOutcome(const CheckedLink& checked, const char* outcome)
{
    if (!checked.verified)
        return nullptr;
    if (outcome)
        return outcome;
    return checked.why == LinkRefusal::kExpired || checked.why == LinkRefusal::kExpTooFarAhead ? LinkOutcome::kExpired
                                                                                               : LinkOutcome::kVersion;
}

// The one road of a link's refusal.
int Refuse(const CheckedLink& checked, const char* why, const char* outcome = nullptr)
{
    return RefuseLink(why, RefusalOutcome(checked, outcome));
}

}  // namespace

int RefuseLink(const char* why, const char* outcome)
{
    TraceOut(TraceLine::kLinkRefused, why);
    if (outcome)
        ReportLink(outcome);
    const int answer = ShowPlayerBox(nullptr, kRefusedText, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    LOG_LAST_ERROR_IF(answer == 0);
    return kExitRefused;
}

int RunLink(std::string_view link, bool renewed)
{
    const CheckedLink checked = CheckLink(link, static_cast<long long>(std::time(nullptr)));
    if (checked.verified)
        SetReportedLink(checked.fields.nonce);
    if (checked.newerVersion && !renewed) {
        const RenewalRefusal refused = RenewForLink(link, checked.fields);
        return refused.why ? Refuse(checked, refused.why, refused.outcome) : kExitLaunched;
    }
    if (!checked.ok)
        return Refuse(checked, checked.why.c_str());

    const LinkFields& fields = checked.fields;
    LaunchProperties properties;
    const struct {
        const char* name;
        const std::string& utf8;
        std::string& ansi;
    } values[] = {{"id", fields.id, properties.strID},
                  {"pass", fields.pass, properties.strPass},
                  {"key", fields.key, properties.key},
                  {"server", fields.server, properties.strServer}};
    for (const auto& value : values) {
        if (!AnsiFromUtf8(value.utf8, value.ansi))
            return Refuse(checked, (value.name + std::string(LinkRefusal::kOutsideCodePage)).c_str(),
                          LinkOutcome::kCodePage);
    }
    // The reader's command-line rule once more on what the client will see.
    const struct {
        const char* name;
        const std::string& ansi;
        bool slashAnywhere;
    } arguments[] = {
        {"id", properties.strID, true}, {"key", properties.key, true}, {"server", properties.strServer, false}};
    for (const auto& argument : arguments) {
        if (const char* fault = AnsiValueFault(argument.ansi, argument.slashAnywhere))
            return Refuse(checked, (fault + std::string(" in ") + argument.name).c_str(), LinkOutcome::kCodePage);
    }

    // Claimed last: a link refused for anything else keeps its one use.
    switch (ClaimNonce(fields.nonce, fields.exp, static_cast<long long>(std::time(nullptr)))) {
    case NonceClaim::Claimed:
        break;
    case NonceClaim::UsedBefore:
        return Refuse(checked, LinkRefusal::kNonceUsed, LinkOutcome::kUsed);
    case NonceClaim::Unavailable:
        return Refuse(checked, LinkRefusal::kNoLedger, LinkOutcome::kLedger);
    }
    // The account's game is open already (a second press, a retry): no
    // second client, the running one in front. Another account asks first.
    std::string saved;
    if ((!SavedAccount(saved) || saved == properties.strID) && BringClientToFront()) {
        TraceOut(TraceLine::kClientBroughtToFront, properties.strID.c_str());
        ReportLink(LinkOutcome::kRunning);
        return kExitLaunched;
    }
    // Asked after the claim: a declined link stays used.
    if (!AccountSwitchAccepted(properties.strID)) {
        ReportLink(LinkOutcome::kDeclined);
        return kExitUpdateStopped;
    }
    return RunLaunch(properties);
}

int RunLaunch(const LaunchProperties& properties)
{
    // The launch sequence's reports and the dialog's only post: they set a
    // flag and wake the loop below, which looks at the flags only once the
    // handler that set them has returned.
    const DWORD thread = GetCurrentThreadId();
    bool handedOver = false;
    bool hidden = false;
    const auto wake = [thread] { LOG_IF_WIN32_BOOL_FALSE(PostThreadMessageA(thread, WM_NULL, 0, 0)); };
    CDownLoadDlg* dialog = nullptr;

    CLaunchSequence launch([&] { handedOver = true, wake(); },
                           [&](HWND, const std::function<void()>& handed) {
                               auto* made = new CDownLoadDlg(handed);
                               CLaunchSequence::DialogPtr owned(made);
                               made->NotifyWhenHidden([&] { hidden = true, wake(); });
                               // No page to sit on: a top-level window of its own.
                               made->Create(nullptr);
                               dialog = made;
                               return owned;
                           });
    const bool started = launch.Launch(nullptr, properties);

    const HWND window = dialog ? dialog->GetSafeHwnd() : nullptr;
    if (!handedOver && !window)
        TraceOut(TraceLine::kNoUpdateDialog);
    // Sent beside the client's start or the dialog, never before them.
    ReportLink(window            ? LinkOutcome::kInstalling
                   : !handedOver ? LinkOutcome::kFailedDownload
                   : started     ? LinkOutcome::kStarted
                                 : LinkOutcome::kFailedClient);
    MSG msg;
    while (window && !handedOver && !hidden) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || LOG_LAST_ERROR_IF(got == -1))
            break;
        if (!IsDialogMessageA(window, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    int code = kExitUpdateFailed;
    if (handedOver)
        code = dialog && dialog->StopConfirmed() ? kExitUpdateStopped : kExitLaunched;
    const CKernelHandle installer(code == kExitLaunched && dialog ? dialog->TakeInstallerProcess() : nullptr);
    // Where the control would end the page, the program ends, once the
    // client that the installer brought has started.
    launch.CloseUpdater();
    // The dialog's road ends with one more report: how the update ended.
    if (window)
        ReportLink(code == kExitUpdateStopped  ? LinkOutcome::kFailedStopped
                       : code != kExitLaunched ? LinkOutcome::kFailedDownload
                       : installer             ? StartInstalledClient(installer.Get(), properties)
                                               : LinkOutcome::kFailedInstaller);
    TraceOut(TraceLine::kExit, code);
    return code;
}
