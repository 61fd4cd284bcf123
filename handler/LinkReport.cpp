#include "handler/LinkReport.h"

#include "BuildConfig.h"
#include "framework/net/InternetSession.h"
#include "framework/sys/WorkerThread.h"
#include "handler/ProgramFile.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

char g_nonce[65];  // lowercase hex, terminated
CWorkerThread g_report;
bool g_unanswered = false;  // a report that had its time: nothing waits for it again

bool Failed(DWORD code)
{
    TraceOut(TraceLine::kReportFailed, static_cast<unsigned long>(code));
    return false;
}

bool Send(const char* outcome)
{
    // Form-encoded as it is: hex digits, a word of lowercase letters and ':'
    // (which a form needs no escape for), digits and dots.
    char body[256];
    const int length = wsprintfA(body, "nonce=%.64s&outcome=%.64s&version=%.23S", g_nonce, outcome,
                                 VersionText(ProgramVersion(nullptr)).data());
    CInternetSession session(VANTORIMA_AGENT);
    if (!session.IsOpen())
        return Failed(session.OpenError());
    // Nothing of the user's goes along: no cookies, no credentials, no cache.
    constexpr DWORD kFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES |
        INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
    CHttpFile reply;
    DWORD status = 0;
    if (const DWORD error = session.PostForm(VANTORIMA_LINK_REPORT, kFlags, body, length, reply))
        return Failed(error);
    if (const DWORD error = reply.QueryStatusCode(status))
        return Failed(error);
    return status / 100 == 2 || Failed(status);
}

}  // namespace

void SetReportedLink(const std::string& nonce)
{
    lstrcpynA(g_nonce, nonce.c_str(), sizeof g_nonce);
}

void ReportLink(const char* outcome)
{
    if (!*VANTORIMA_LINK_REPORT || !*g_nonce)
        return;
    FinishLinkReport();
    if (g_report.Running())
        return;  // the one before has not gone: this one would only queue behind it
    g_report.Start([outcome] { Send(outcome); });
}

void FinishLinkReport()
{
    if (g_unanswered || g_report.Wait(kReportWaitMs))
        return;
    g_unanswered = true;
    TraceOut(TraceLine::kReportUnanswered, static_cast<unsigned long>(kReportWaitMs));
}
