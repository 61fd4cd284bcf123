#include "download/StatusMessage.h"

#include <atomic>

#include "framework/sys/Result.h"

UINT StatusMessageId()
{
    // Registered once; both threads may ask first, and get the same number.
    static std::atomic<UINT> id{0};
    UINT known = id.load(std::memory_order_relaxed);
    if (!known) {
        known = ::RegisterWindowMessageA(kStatusMessageName);
        LOG_LAST_ERROR_IF(known == 0);
        id.store(known, std::memory_order_relaxed);
    }
    return known;
}

bool IsAnsiLeadByte(unsigned char byte)
{
    return ::IsDBCSLeadByte(byte) != FALSE;
}
