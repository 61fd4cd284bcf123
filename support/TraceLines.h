// The trace lines that someone outside the code reads: the support desk with
// a player's trace, the tests, the pages of docs/developers.md#the-trace that list
// them. Each is written here once; change one only together with that list.
// Every other trace line is a plain sentence written where it happens.
#pragma once

namespace TraceLine {

// The launch, by the control and by the link alike.
inline constexpr char kId[] = "id : %s";
inline constexpr char kPassword[] = "passwd : <%u bytes>";  // its length, never the password
inline constexpr char kKey[] = "m_key : <%u bytes>";  // its length: the join key admits to the game
inline constexpr char kServer[] = "m_strServer : %s";
inline constexpr char kClientPath[] = "strPath : %s";
inline constexpr char kSettingsKeyOpened[] = "suc";
inline constexpr char kSettingsKeyError[] = "error";
inline constexpr char kTokenLength[] = "len : %d";
inline constexpr char kTokenTooLong[] = "password does not fit the token";
inline constexpr char kTokenFirstPass[] = "tmpstr1 : <hidden>";
inline constexpr char kTokenSecondPass[] = "tmpstr2 : <hidden>";
inline constexpr char kToken[] = "retstr : <%d hex digits>";
inline constexpr char kPasswordNotPassed[] = "passwd too long : %d bytes, not passed on";
inline constexpr char kDialogDeleted[] = "delete m_downLoaddlg";
inline constexpr char kNotifyChild[] = "CPelloraCtrl::OnNotifyChild";
inline constexpr char kParentOwner[] = "GetParentOwner";
inline constexpr char kNoParentOwner[] = "GetParentOwner no";

// The page the control is on.
inline constexpr char kPageRefused[] = "page refused: %s";
inline constexpr char kSafetyPageRefused[] = "IObjectSafety: page refused: %s";

// What the player was shown: every box, with its text (its line breaks left
// out), and the update dialog's status line as the dialog ends.
inline constexpr char kBox[] = "box: %s";
inline constexpr char kStatusLineAtEnd[] = "status line: %s";

// The update dialog.
inline constexpr char kInstallerLink[] = "link :%s";
inline constexpr char kListFailed[] = "test1";
inline constexpr char kUnpackFailed[] = "test3";
inline constexpr char kNoCheckedInstaller[] = "no checked installer";
inline constexpr char kDialogOnExit[] = "CDownLoadDlg::OnExit";
inline constexpr char kDialogExit[] = "CDownLoadDlg::Exit";
inline constexpr char kClientKilled[] = "CreateDownloadThread:KillProcess";

// The download.
inline constexpr char kListStart[] = "CWebGrab::DownloadListAll";
inline constexpr char kListException[] = "CWebGrab::DownloadListAll exception";
inline constexpr char kListEnd[] = "CWebGrab::DownloadListAll-end";
inline constexpr char kListSize[] = "m_downloadArray.GetSize : %d";
inline constexpr char kListUrl[] = "strURL : %s";
inline constexpr char kListFileName[] = "downFileName : %s";
inline constexpr char kListFilePath[] = "downFilePath : %s";
inline constexpr char kListLoopOut[] = "for loop out";
inline constexpr char kInternetOpenError[] = "InternetOpen error : %lu";
inline constexpr char kHttpStatus[] = "HTTP status : %lu";
inline constexpr char kLengthUnreadable[] = "Content-Length unreadable";
inline constexpr char kNetError[] = "GetFile net error : %s";
inline constexpr char kFileError[] = "GetFile file error : %s";
inline constexpr char kCheckError[] = "GetFile check error : %s - %s";
inline constexpr char kConnectionLost[] = "GetFile connection lost : %s";
inline constexpr char kStartsOver[] = "GetFile starts over : %s bytes";
inline constexpr char kResumes[] = "GetFile resumes (%d) after %s bytes";
inline constexpr char kStoppedInPause[] = "GetFile stopped during the pause";
inline constexpr char kContinues[] = "GetFile continues at %s of %s bytes";
inline constexpr char kRangeRefused[] = "GetFile range refused : %s";
inline constexpr char kPartialKept[] = "partial download kept : %s of %s bytes";
inline constexpr char kPartialDiscarded[] = "partial download discarded : %s bytes";
inline constexpr char kPartialSwept[] = "partial download swept : %s";
inline constexpr char kPartialInUse[] = "partial download in use : %lu";
inline constexpr char kPartialError[] = "partial download error : %lu";
inline constexpr char kPartialFolder[] = "partial download folder : %s";
inline constexpr char kPartialFolderRefused[] = "partial download folder refused : %s";
inline constexpr char kFolder[] = "download folder : %s";
inline constexpr char kFolderError[] = "download folder error : %lu";
inline constexpr char kFolderSecurityError[] = "download folder security error : %lu";
inline constexpr char kFolderUnsecured[] = "download folder without an access list: the system has no security";
inline constexpr char kFolderSwept[] = "download folder swept : %s";
inline constexpr char kFolderStays[] = "download folder stays : %lu";
inline constexpr char kInstallerChecked[] = "CheckInstallerFile : %s";  // the file's path, then its verdict
inline constexpr char kInstallerPassed[] = "CheckInstallerFile : suc%s";
inline constexpr char kInstallerRefused[] = "CheckInstallerFile : %s%s";
inline constexpr char kUnsignedSelf[] =
    "CheckInstallerFile : self - this module is not signed, any trusted publisher passes";
inline constexpr char kUnreadableSelf[] =
    "CheckInstallerFile : self - this signed build cannot read its own signature, no publisher passes";

// The link handler and launcher.
inline constexpr char kLinkRefused[] = "link refused: %s";
inline constexpr char kAccountSwitch[] = "account switch %s";  // accepted or declined
inline constexpr char kInstallerEnded[] = "installer ended with %lu: no client started";
inline constexpr char kNoClientInstalled[] = "no client installed";
inline constexpr char kClientRuns[] = "a client runs already";
inline constexpr char kClientStarted[] = "installed client started";
inline constexpr char kClientNotStarted[] = "installed client not started";
inline constexpr char kNoUpdateDialog[] = "no update dialog";
inline constexpr char kExit[] = "VantorimaLaunch exit %d";
inline constexpr char kInstalled[] = "installed";
inline constexpr char kInstallFailed[] = "install failed: %s: error %ld";
inline constexpr char kUninstalled[] = "uninstalled";
inline constexpr char kUninstallFailed[] = "uninstall failed: error %ld";
inline constexpr char kRenewed[] = "renewed";
inline constexpr char kRegistration[] = "%s %s: %ld";  // register or unregister, user or machine, the code
inline constexpr char kMachineRegistrationRefused[] =
    "register machine refused: the %s is not the administrators' alone (%s): register per user";
inline constexpr char kUnknownSwitch[] = "unknown switch";
inline constexpr char kClientBroughtToFront[] = "a client runs for %s: brought to the front";
inline constexpr char kReportFailed[] = "link report failed: %lu";  // WinINet's error (12xxx), or the HTTP status
inline constexpr char kReportUnanswered[] = "link report unanswered after %lu ms";
inline constexpr char kSystemLibraryMissing[] = "system library not loaded: %s%s%s: error %lu";  // library[!function]

// A failed call, with its place (framework/sys/Result.h).
inline constexpr char kCallFailed[] = "%s(%d): %s failed: 0x%08lX";
inline constexpr char kCallFailedCode[] = "%s(%d): %s failed: error %lu";
inline constexpr char kCaught[] = "%s(%d): %s: %s: 0x%08lX";

}  // namespace TraceLine

// Which program wrote a line of the log (support/TraceLog.h): the control,
// the launcher, and the update dialog with its worker in either of them.
namespace TraceProgram {

inline constexpr char kControl[] = "control";
inline constexpr char kLauncher[] = "launcher";
inline constexpr char kUpdateDialog[] = "update dialog";

}  // namespace TraceProgram

// Why a link was refused: the <why> of TraceLine::kLinkRefused. A reason
// about one value ends with the value's name ("missing parameter nonce"), a
// fault of the command-line rule reads "<fault> in <name>".
namespace LinkRefusal {

// The reader (link/SignedLink.h).
inline constexpr char kTooLong[] = "link too long";
inline constexpr char kOtherScheme[] = "other scheme";
inline constexpr char kOtherVerb[] = "other verb";
inline constexpr char kCharacterNotAllowed[] = "character not allowed in a link";
inline constexpr char kEmptyParameter[] = "empty parameter";
inline constexpr char kParameterWithoutValue[] = "parameter without value";
inline constexpr char kUnknownParameter[] = "unknown parameter";
inline constexpr char kRepeatedParameter[] = "repeated parameter";  // + name
inline constexpr char kSigNotLast[] = "sig not last";
inline constexpr char kMissingParameter[] = "missing parameter";  // + name
inline constexpr char kBadEscapeIn[] = "bad escape in";  // + name
inline constexpr char kInvalidUtf8In[] = "invalid UTF-8 in";  // + name
inline constexpr char kControlCharacterIn[] = "control character in";  // + name
inline constexpr char kFormatCharacterIn[] = "format character in";  // + name (id)
inline constexpr char kUnknownVersion[] = "unknown version";
inline constexpr char kNewerVersion[] = "newer version";
inline constexpr char kIdTooLong[] = "id too long";
inline constexpr char kKeyTooLong[] = "key too long";
inline constexpr char kServerTooLong[] = "server too long";
inline constexpr char kPassNotAToken[] = "pass of 64 characters is not a token";
inline constexpr char kPassTooLong[] = "pass too long";
inline constexpr char kBadExp[] = "bad exp";
inline constexpr char kBadNonce[] = "bad nonce";
inline constexpr char kBadSig[] = "bad sig";
inline constexpr char kSignatureFails[] = "signature does not verify";
inline constexpr char kExpired[] = "expired";
inline constexpr char kExpTooFarAhead[] = "exp too far ahead";

// The command-line rule's faults: "<fault> in <name>".
inline constexpr char kSwitch[] = "switch";
inline constexpr char kBlank[] = "blank";
inline constexpr char kQuote[] = "quote";
inline constexpr char kControlCharacter[] = "control character";

// The handler.
inline constexpr char kNoCommandLine[] = "no command line";
inline constexpr char kNoLink[] = "no link";
inline constexpr char kMoreThanOneArgument[] = "more than one argument";
inline constexpr char kNotText[] = "link is not valid text";
inline constexpr char kOutsideCodePage[] = " has characters outside the ANSI code page";  // name +
inline constexpr char kNonceUsed[] = "nonce used before";
inline constexpr char kNoLedger[] = "nonce ledger cannot be written";
inline constexpr char kRenewalNoFolder[] = "renewal: no folder";
inline constexpr char kRenewalNotChecked[] = "renewal: no checked launcher";
inline constexpr char kRenewalNoSigners[] = "renewal: no signers named";
inline constexpr char kRenewalNotHttps[] = "renewal: update host not https";
inline constexpr char kRenewalNotALauncher[] = "renewal: not a launcher";
inline constexpr char kRenewalNotNewer[] = "renewal: not newer";
inline constexpr char kRenewalNotInstalled[] = "renewal: not installed";
inline constexpr char kRenewalNotStarted[] = "renewal: not started";
inline constexpr char kRenewalOwnVersion[] = "renewal: own version unreadable";
inline constexpr char kRenewalUnsignedSelf[] = "renewal: signer passes only as this launcher is unsigned";

}  // namespace LinkRefusal

// What the launcher tells the service it did with a link whose signature
// verified (the outcome of its report, docs/reference.md#the-links-state):
// short words that the service and the page read, never changed once
// shipped. A refusal's word names its kind, beside the refusals above.
namespace LinkOutcome {

inline constexpr char kStarted[] = "started";
inline constexpr char kInstalling[] = "installing";
inline constexpr char kRenewing[] = "renewing";
// Launchers already installed send it for any failure; this one no longer does.
inline constexpr char kFailed[] = "failed";
inline constexpr char kFailedStopped[] = "failed:stopped";  // the player stopped the download
inline constexpr char kFailedDownload[] = "failed:download";  // the update dialog ended without an installer, or none
inline constexpr char kFailedInstaller[] = "failed:installer";  // it failed, did not end in time, or left no client
inline constexpr char kFailedClient[] = "failed:client";  // the client could not be started
inline constexpr char kExpired[] = "refused:expired";  // kExpired, kExpTooFarAhead
inline constexpr char kUsed[] = "refused:used";  // kNonceUsed
inline constexpr char kDeclined[] = "refused:declined";  // the account question's No
// The account's client runs: brought to the front; or it runs once the installer has ended.
inline constexpr char kRunning[] = "refused:running";
inline constexpr char kVersion[] = "refused:version";  // kNewerVersion in a renewed copy
inline constexpr char kRenewal[] = "refused:renewal";  // kRenewal...
inline constexpr char kCodePage[] = "refused:codepage";  // kOutsideCodePage, a command-line fault once converted
inline constexpr char kLedger[] = "refused:ledger";  // kNoLedger

}  // namespace LinkOutcome
