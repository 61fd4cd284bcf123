// What the handler does with a link: check it, claim its nonce, then run the
// control's own launch sequence with the link's four values, in a program of
// its own (no page, no host window).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "handler/ExitCodes.h"
#include "launch/LaunchSequence.h"

// A refusal: one box, one trace line "link refused: <why>", kExitRefused;
// outcome, for a link whose signature verified, goes to the service
// (LinkReport.h) before the box. The program refuses what is no link with
// it (no outcome); RunLink refuses every link through it.
int RefuseLink(const char* why, const char* outcome = nullptr);

// The link as the shell passed it, in UTF-8. Refuses, or launches and runs
// until the launch has handed over or the update dialog has ended. A genuine
// link of a newer version renews the launcher (SelfRenewal.h), unless this
// copy was started by a renewal (renewed): then it is refused.
int RunLink(std::string_view link, bool renewed = false);

// Runs the launch sequence for properties (ANSI strings) as the control's
// window creation does, with the update dialog as a top-level window, and
// returns when it is over: kExitLaunched, kExitUpdateFailed or
// kExitUpdateStopped. Reports the link's one final outcome (LinkOutcome),
// after installing when the update dialog opens.
int RunLaunch(const LaunchProperties& properties);
