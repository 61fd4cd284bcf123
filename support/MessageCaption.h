// Caption of every message box the product shows.
#pragma once

constexpr const char kMessageCaption[] = "VOK 围棋";
