// Where the text progress bar puts its bar, its background and its label.
// Plain arithmetic, no Windows API, so it is also built natively.
//
// The fraction shown is (pos - lower) / (upper - lower), not clamped: a
// position outside the range gives a bar longer than the control or shorter
// than nothing, and a percentage above 100 or below 0. Lengths and the
// percentage are that fraction times a whole number, truncated toward zero,
// computed exactly: in floating point 57/100 * 100 is 56.99..., which would
// show position 57 as "56%".
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

// The fraction of pos in lower..upper times scale, truncated toward zero and
// saturated at the 32-bit range. An empty range counts as an infinite
// fraction (of the sign of pos - lower; none when pos is on it).
int32_t ScaleFraction(int32_t pos, int32_t lower, int32_t upper, int32_t scale);

// Length of the bar in whole pixels along a side of `length` pixels.
inline int32_t BarPixels(int32_t pos, int32_t lower, int32_t upper, int32_t length)
{
    return ScaleFraction(pos, lower, upper, length);
}

// Horizontal: the bar grows from the left edge. Vertical: from the lower edge
// upwards. Both rectangles stay within the client: beyond the upper end the
// background is empty, below the lower end the bar.
BarSplit SplitBar(const BarRect& client, int32_t pos, int32_t lower, int32_t upper, bool vertical);

// The window text when there is one, else the truncated percentage ("57%").
std::string ProgressLabel(const std::string& windowText, int32_t pos, int32_t lower, int32_t upper);
