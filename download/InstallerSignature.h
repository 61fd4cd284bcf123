// The check of a downloaded installer before anything starts it: a valid
// Authenticode signature whose chain ends in a root trusted for code signing,
// and a signer that the build accepts (VANTORIMA_INSTALLER_SIGNERS). Nothing
// goes to the network: revocation is not checked online.
#pragma once

#include <windows.h>

#include <string>

#include "BuildConfig.h"

// Which step refused a file, with its code.
struct SignatureVerdict {
    enum Step { kAccepted, kTrust, kChainPolicy, kSigner };
    Step step = kAccepted;
    HRESULT code = S_OK;
    // The signer certificate, once the trust state has one (for the trace).
    wchar_t commonName[128] = L"";
    size_t commonNameLength = 0;  // the whole name's, also when cut above or holding a NUL
    char thumbprint[41] = "";  // SHA-1, 40 upper-case hex digits
    // "self" was asked for, and the running module carries no signature: in
    // a developer build (selfUnsigned) any trusted publisher passed; in a
    // signed build (selfUnreadable) none did.
    bool selfUnsigned = false;
    bool selfUnreadable = false;

    bool Accepted() const { return step == kAccepted; }
    const char* StepName() const;
};

// Three steps, each of which must pass:
//   1. WinVerifyTrust, generic verify v2, no UI;
//   2. the Authenticode chain policy on the signer's chain of that trust
//      state (Wine's WinVerifyTrust passes signers that no root trusts);
//   3. the signer is listed in signers: empty lists every publisher; else
//      ";"-separated entries, each one of: "self" (any case), the signer of
//      the running module, that is a certificate with exactly the same
//      subject and issuer (every attribute, byte for byte) as the one that
//      signed the module's own file, verified the same way; a module without
//      any signature lets any trusted publisher pass for this entry
//      (selfUnsigned) only where signedBuild is false, a developer's build;
//      a SHA-1 thumbprint (an entry of exactly 40 hex digits once blanks and
//      colons are left out, whatever their case); else the exact subject
//      common name, compared whole.
// With a file handle the check reads the file through it (path then only
// names it). ownModule names the running module's file; null finds it.
// signedBuild: the build's VANTORIMA_SIGNED_BUILD, decided when it was built,
// never from what the module's file looks like at run time.
SignatureVerdict VerifyInstallerSignature(const wchar_t* path, const wchar_t* signers, HANDLE file = nullptr,
                                          const wchar_t* ownModule = nullptr,
                                          bool signedBuild = VANTORIMA_SIGNED_BUILD != 0);

// Whether the signer with this thumbprint (40 upper-case hex digits) and
// common name (of nameLength characters; a NUL inside counts) is listed by
// thumbprint or name.
bool SignerListed(const wchar_t* signers, const char* thumbprint, const wchar_t* commonName, size_t nameLength);
bool SignerListed(const wchar_t* signers, const char* thumbprint, const wchar_t* commonName);
// Whether signers has the entry "self".
bool ListsSelf(const wchar_t* signers);

// The web grabber's check of a finished download with the build's signers:
// traces the outcome; false, with a text for the status line, when refused.
bool CheckInstallerFile(const std::string& path, HANDLE file, std::string& failure);

// The build's accepted signers. In a file of its own, so that a test can
// link another list.
const wchar_t* InstallerSigners();

// The check the update dialog gives its grabber: none when the build says
// "off", and then nothing of this file is linked.
#if VANTORIMA_INSTALLER_CHECK
constexpr bool (*kInstallerCheck)(const std::string&, HANDLE, std::string&) = &CheckInstallerFile;
#else
constexpr bool (*kInstallerCheck)(const std::string&, HANDLE, std::string&) = nullptr;
#endif
