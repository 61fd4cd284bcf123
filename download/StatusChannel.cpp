#include "download/StatusChannel.h"

#include <mutex>

void CStatusChannel::Send(HWND window, unsigned code, unsigned percent, const char* text)
{
    LPARAM lParam;
    WPARAM wParam;
    {
        std::lock_guard<CCriticalSection> lock(m_lock);
        lstrcpynA(m_text, text ? text : "", sizeof m_text);
        m_wParam = PackStatus(code, percent);
        m_pending = true;
        m_taken = false;
        wParam = m_wParam;
        lParam = reinterpret_cast<LPARAM>(m_text);
    }
    // Synchronous: the text stays as it is until the window has handled it.
    ::SendMessageA(window, StatusMessageId(), wParam, lParam);
    std::lock_guard<CCriticalSection> lock(m_lock);
    m_pending = false;
}

bool CStatusChannel::Take(WPARAM wParam, LPARAM lParam, Report& report)
{
    // The worker always sends from its own thread, and waits.
    if ((::InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) != ISMEX_SEND)
        return false;
    std::lock_guard<CCriticalSection> lock(m_lock);
    if (!m_pending || m_taken || lParam != reinterpret_cast<LPARAM>(m_text) ||
        static_cast<uint32_t>(wParam) != m_wParam)
        return false;
    m_taken = true;
    report.code = StatusCodeOf(m_wParam);
    report.percent = StatusPercentOf(m_wParam);
    report.text = m_text;
    return true;
}
