// The launcher keeps itself current: a genuine link of a newer format than
// this handler reads brings the launcher that reads it.
#pragma once

#include <string_view>

// The launcher as the update host serves it, beside the client's installer.
constexpr const char kLauncherName[] = "VantorimaLaunch.exe";

// Downloads the launcher from the update host with the installer's engine
// (resumption, and the installer's signature check with the build's
// signers), installs it quietly when it is newer than this program, and
// starts the installed copy with "/renewed <link>": that copy claims the
// nonce and acts on the link, or refuses it, and never renews again. Any
// failure refuses the link and changes nothing. kExitLaunched or kExitRefused.
int RenewForLink(std::string_view link);
