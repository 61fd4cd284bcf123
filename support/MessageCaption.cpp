#include "support/MessageCaption.h"

#include <string>

#include "support/Trace.h"
#include "support/TraceLines.h"

int ShowPlayerBox(HWND owner, const char* text, UINT type)
{
    // One line, as the player reads it: the box's line breaks left out.
    std::string line;
    for (const char* at = text; *at; ++at) {
        if (*at != '\r' && *at != '\n')
            line += *at;
    }
    TraceOut(TraceLine::kBox, line.c_str());
    return MessageBoxA(owner, text, kMessageCaption, type);
}
