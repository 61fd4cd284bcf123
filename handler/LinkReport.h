// The launcher's report to the service of what it did with a link whose
// signature verified, so that the page that opened the link can tell the
// player (docs/reference.md#the-links-state). One small POST to
// VANTORIMA_LINK_REPORT through framework/net: nonce=...&outcome=...&version=
// a.b.c.d, and never anything else. It goes on a thread of its own, beside
// the client's start or the dialog; what comes next waits for it, at most
// kReportWaitMs: the next report (so that they arrive in order), a renewal
// before it starts the new copy, and the program before it ends. A report
// that had that time is waited for no more; one that fails is a trace line.
#pragma once

#include <windows.h>

#include <string>

constexpr DWORD kReportWaitMs = 3000;

// The verified link's nonce (lowercase hex), which later reports are about.
// Before it is set, ReportLink reports nothing.
void SetReportedLink(const std::string& nonce);

// Sends outcome (a LinkOutcome word) for the link, after the report before
// it has gone (or had its time).
void ReportLink(const char* outcome);

// Waits until the report under way has gone, at most kReportWaitMs; after
// that it is left to end with the program.
void FinishLinkReport();
