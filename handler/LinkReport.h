// The launcher's report to the service of what it did with a link whose
// signature verified, so that the page that opened the link can tell the
// player (docs/reference.md#the-links-state). One small POST to
// VANTORIMA_LINK_REPORT: nonce=...&outcome=...&version=a.b.c.d, and never
// anything else. It goes on a thread of its own: nothing waits for it but the
// program's end, at most kReportWaitMs; a report that fails is a trace line.
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
