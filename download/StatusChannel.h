// One worker's reports to its own dialog through the status message.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "download/StatusMessage.h"
#include "framework/sys/CriticalSection.h"

// The way of the status message from one worker to its own dialog. The text
// that lParam points at lives here; the dialog takes a report only through
// Take, which yields nothing for a message that this channel did not send
// and is not waiting on right now: one posted, one whose pointer or wParam is
// not the one handed out, or a second arrival of a report already taken. So
// another thread or process that sends the message (with any pointer) can
// neither make the dialog read its memory nor make it act twice.
class CStatusChannel {
public:
    struct Report {
        unsigned code = 0;
        unsigned percent = 0;
        std::string text;
    };

    CStatusChannel() = default;
    CStatusChannel(const CStatusChannel&) = delete;
    CStatusChannel& operator=(const CStatusChannel&) = delete;

    // Worker: sends the report to window and waits until it has been handled.
    void Send(HWND window, unsigned code, unsigned percent, const char* text);
    // Dialog, in its handler of the status message: the report, once.
    bool Take(WPARAM wParam, LPARAM lParam, Report& report);

private:
    CCriticalSection m_lock;
    bool m_pending = false;
    bool m_taken = false;
    uint32_t m_wParam = 0;
    char m_text[kStatusTextSize] = "";
};
