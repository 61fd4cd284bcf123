// The internet session of the web grabber: it carries the current status code
// and byte counts, and sends the status message to the notify window.
#pragma once

#include <cstdint>

#include "framework/net/InternetSession.h"
#include "download/StatusProtocol.h"

class CStatusChannel;

class CGrabSession : public CInternetSession {
public:
    // Opens the session with the agent name (the User-Agent of the requests)
    // and the user's internet settings; IsOpen tells whether that worked.
    // Reports go through channel, which must outlive the session.
    CGrabSession(const char* agent, HWND notifyWnd, CStatusChannel& channel);

    void SetNotifyWindow(HWND notifyWnd) { m_pNotifyWnd = notifyWnd; }
    void SetTotal(uint64_t total) { m_dwTotal = total; }
    void SetStatus(unsigned short code, uint64_t received)
    {
        m_nStatus = code;
        m_dwReceived = received;
    }
    // Only the code; the count stays.
    void SetStatusCode(unsigned short code) { m_nStatus = code; }

    // Formats the text (cut to 511 characters) and sends it with the current
    // code to the notify window, waiting until the window has handled it.
    // Nothing is sent when there is no window.
    void ReportStatus(const char* format, ...) VANTORIMA_PRINTF(2, 3);
    // The code-4 text for received bytes after elapsedSeconds, of which the
    // first earlier were kept from an earlier download (not in the speed).
    void ReportReading(const char* name, uint64_t received, uint32_t elapsedSeconds, uint64_t earlier = 0);

protected:
    void OnStatusCallback(DWORD_PTR context, DWORD status, void* information, DWORD informationLength) override;

private:
    void Send(const char* text) const;
    bool HasWindow() const { return m_pNotifyWnd && ::IsWindow(m_pNotifyWnd); }

    unsigned short m_nStatus = 0;
    uint64_t m_dwReceived = 0;
    uint64_t m_dwTotal = 0;
    // A handle, not the window object: the worker may outlive the dialog,
    // and a send to a window that is gone does nothing.
    HWND m_pNotifyWnd = nullptr;
    CStatusChannel& m_channel;
};
