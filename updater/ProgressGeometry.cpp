#include "updater/ProgressGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

double ProgressFraction(int32_t pos, int32_t lower, int32_t upper)
{
    // In double, so that neither difference can overflow.
    return (static_cast<double>(pos) - lower) / (static_cast<double>(upper) - lower);
}

int32_t TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    // Converting an out-of-range double to int is undefined; positions are
    // not clamped, so such values do arrive.
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

namespace {

// edge, kept between low and high (an empty client keeps low).
int32_t Within(int64_t edge, int32_t low, int32_t high)
{
    return static_cast<int32_t>(std::clamp<int64_t>(edge, low, std::max(low, high)));
}

}  // namespace

BarSplit SplitBar(const BarRect& client, double fraction, bool vertical)
{
    BarSplit split{client, client};
    if (vertical) {
        // Grows upwards: the edge moves from the lower edge towards the top.
        const int64_t edge = static_cast<int64_t>(client.bottom) - BarPixels(fraction, client.bottom - client.top);
        split.bar.top = split.background.bottom = Within(edge, client.top, client.bottom);
    } else {
        const int64_t edge = static_cast<int64_t>(client.left) + BarPixels(fraction, client.right - client.left);
        split.bar.right = split.background.left = Within(edge, client.left, client.right);
    }
    return split;
}

std::string ProgressLabel(const std::string& windowText, double fraction)
{
    if (!windowText.empty())
        return windowText;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(TruncateToInt(fraction * 100)));
    return percent;
}
