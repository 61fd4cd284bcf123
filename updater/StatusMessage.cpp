#include "updater/StatusMessage.h"

UINT StatusMessageId()
{
    static const UINT id = ::RegisterWindowMessageA(kStatusMessageName);
    return id;
}

bool IsAnsiLeadByte(unsigned char byte)
{
    return ::IsDBCSLeadByte(byte) != FALSE;
}
