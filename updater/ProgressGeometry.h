// Where the text progress bar puts its bar, its background and its label.
// Plain arithmetic, no Windows API, so it is also built natively.
#pragma once

#include <cstdint>
#include <string>

// A rectangle in client coordinates; right and bottom are exclusive, as in a
// Windows RECT.
struct BarRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool operator==(const BarRect& other) const
    {
        return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
    }
};

struct BarSplit {
    BarRect bar;
    BarRect background;
};

// (pos - lower) / (upper - lower) in floating point, not clamped: a position
// outside the range gives a fraction outside 0..1. An empty range gives an
// infinity or NaN, which the functions below take without fault.
double ProgressFraction(int32_t pos, int32_t lower, int32_t upper);

// value truncated toward zero, saturated at the 32-bit range; NaN gives 0.
int32_t TruncateToInt(double value);

// Length of the bar in whole pixels along a side of `length` pixels.
inline int32_t BarPixels(double fraction, int32_t length)
{
    return TruncateToInt(fraction * length);
}

// Horizontal: the bar grows from the left edge. Vertical: from the lower edge
// upwards. Both rectangles stay within the client: a fraction above 1 gives
// an empty background, one below 0 an empty bar.
BarSplit SplitBar(const BarRect& client, double fraction, bool vertical);

// The window text when there is one, else the truncated percentage ("57%").
std::string ProgressLabel(const std::string& windowText, double fraction);
