// Caption of every message box the product shows, and the box itself.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

constexpr const char kMessageCaption[] = "VOK 围棋";

#ifdef _WIN32
// MessageBoxA with the caption above, after one trace line with the box's
// text (TraceLine::kBox), so that the log says what the player read.
int ShowPlayerBox(HWND owner, const char* text, UINT type);
#endif
