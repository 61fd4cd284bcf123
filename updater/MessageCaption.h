// Caption of every message box of the update.
#pragma once

constexpr const char kMessageCaption[] = "VOK 围棋";
