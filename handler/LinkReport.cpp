#include "handler/LinkReport.h"

#include "BuildConfig.h"
#include "framework/net/Internet.h"
#include "framework/sys/WorkerThread.h"
#include "handler/ProgramFile.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

namespace {

const char kAgent[] = "Quessel";

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
    const unsigned long long version = ProgramVersion(nullptr);
    wsprintfA(body, "nonce=%.64s&outcome=%.64s&version=%u.%u.%u.%u", g_nonce, outcome,
              static_cast<unsigned>(version >> 48), static_cast<unsigned>(version >> 32) & 0xFFFF,
              static_cast<unsigned>(version >> 16) & 0xFFFF, static_cast<unsigned>(version) & 0xFFFF);
    const CInternetHandle session(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        return Failed(GetLastError());
    const CInternetHandle connection(InternetConnectA(session.Get(), VANTORIMA_LINK_REPORT_HOST,
                                                      VANTORIMA_LINK_REPORT_PORT, nullptr, nullptr,
                                                      INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection)
        return Failed(GetLastError());
    // Nothing of the user's goes along: no cookies, no credentials, no cache.
    const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES |
        INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT |
        (VANTORIMA_LINK_REPORT_SECURE ? INTERNET_FLAG_SECURE : 0);
    const CInternetHandle request(
        HttpOpenRequestA(connection.Get(), "POST", VANTORIMA_LINK_REPORT_PATH, nullptr, nullptr, nullptr, flags, 0));
    if (!request)
        return Failed(GetLastError());
    static const char kType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    if (!HttpSendRequestA(request.Get(), kType, sizeof kType - 1, body, lstrlenA(body)))
        return Failed(GetLastError());
    DWORD status = 0, size = sizeof status;
    if (!HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return Failed(GetLastError());
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
