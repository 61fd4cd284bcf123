#include "download/GrabSession.h"

#include "download/StatusChannel.h"

CGrabSession::CGrabSession(const char* agent, HWND notifyWnd, CStatusChannel& channel)
    : CInternetSession(agent, 1), m_channel(channel)
{
    // Progress events are only observed; a session without them works the same.
    if (IsOpen())
        EnableStatusCallback();
    m_pNotifyWnd = notifyWnd;
}

void CGrabSession::ReportStatus(const char* format, ...)
{
    if (!HasWindow())
        return;
    char text[kStatusTextSize];
    va_list args;
    va_start(args, format);
    FormatStatusTextV(text, &IsAnsiLeadByte, format, args);
    va_end(args);
    Send(text);
}

void CGrabSession::ReportReading(const char* name, uint64_t received, uint32_t elapsedSeconds, uint64_t earlier)
{
    if (!HasWindow())
        return;
    char text[kStatusTextSize];
    FormatReadingText(text, &IsAnsiLeadByte, name, received, elapsedSeconds, earlier);
    Send(text);
}

void CGrabSession::Send(const char* text) const
{
    const unsigned percent = m_nStatus == STATUS_READING ? PercentOf(m_dwReceived, m_dwTotal) : 0;
    m_channel.Send(m_pNotifyWnd, m_nStatus, percent, text);
}

void CGrabSession::OnStatusCallback(DWORD_PTR, DWORD, void*, DWORD) {}
