// The launcher keeps itself current: a genuine link of a newer format than
// this handler reads brings the launcher that reads it.
#pragma once

#include <string_view>

#include "link/SignedLink.h"

// The launcher as the update host serves it, beside the client's installer.
constexpr const char kLauncherName[] = "VantorimaLaunch.exe";
// What its version resource says (res/VantorimaLaunch.rc).
constexpr const wchar_t kLauncherFileName[] = L"VantorimaLaunch.exe";
constexpr const wchar_t kLauncherProductName[] = L"Vantorima";

// A renewal runs what the update host serves, on a link's word alone: it
// only happens when the build names who may sign that file (self or a list;
// not off, not empty) and, in a signed build (a release), when the update
// host is https. nullptr when signers (VANTORIMA_INSTALLER_SIGNERS) and
// updateOrigin allow it, else the refusal's reason.
const char* RenewalPolicyFault(const char* signers, bool signedBuild, const char* updateOrigin);

// For a genuine, fresh link of a newer format (fields: its exp and nonce):
// after the build's policy, claims the renewal once per link in the nonce
// ledger (a replayed link downloads nothing), downloads the launcher from the
// update host with the installer's engine (resumption, and the installer's
// signature check with the build's signers), and, while the checked file is
// held, makes sure it is our launcher for this processor and newer than this
// program before it installs it quietly; then starts the installed copy
// with "/renewed <link>": that copy claims the nonce and acts on the link,
// or refuses it, and never renews again. Any failure refuses the link and
// changes nothing: the renewal returns what it refused, and the link's launch
// refuses it (LinkLaunch.h).
struct RenewalRefusal {
    const char* why;  // LinkRefusal; null: renewed, the new copy acts on the link
    const char* outcome;  // LinkOutcome: what the service hears of it
};
RenewalRefusal RenewForLink(std::string_view link, const LinkFields& fields);
