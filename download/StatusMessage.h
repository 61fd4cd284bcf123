// The registered status message in this process (see StatusProtocol.h for
// its parameters and codes).
#pragma once

#include <windows.h>

#include "download/StatusProtocol.h"

// The message's identifier, registered on first use, the same for the whole
// process and for every process of the session.
UINT StatusMessageId();

// Lead bytes of the system's ANSI code page, for cutting status texts.
bool IsAnsiLeadByte(unsigned char byte);
