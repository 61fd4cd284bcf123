#include "dialog/ProgressGeometry.h"

#include <algorithm>
#include <limits>

#include "support/FormatText.h"

int32_t ScaleFraction(int32_t pos, int32_t lower, int32_t upper, int32_t scale)
{
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    // |pos - lower| < 2^32 and |scale| <= 2^31: the product fits in 64 bits.
    const int64_t numerator = (static_cast<int64_t>(pos) - lower) * scale;
    const int64_t denominator = static_cast<int64_t>(upper) - lower;
    if (denominator == 0)
        return numerator > 0 ? static_cast<int32_t>(kMax) : numerator < 0 ? static_cast<int32_t>(kMin) : 0;
    return static_cast<int32_t>(std::clamp(numerator / denominator, kMin, kMax));
}

namespace {

// edge, kept between low and high (an empty client keeps low).
int32_t Within(int64_t edge, int32_t low, int32_t high)
{
    return static_cast<int32_t>(std::clamp<int64_t>(edge, low, std::max(low, high)));
}

}  // namespace

BarSplit SplitBar(const BarRect& client, int32_t pos, int32_t lower, int32_t upper, bool vertical)
{
    BarSplit split{client, client};
    if (vertical) {
        // Grows upwards: the edge moves from the lower edge towards the top.
        const int64_t edge =
            static_cast<int64_t>(client.bottom) - BarPixels(pos, lower, upper, client.bottom - client.top);
        split.bar.top = split.background.bottom = Within(edge, client.top, client.bottom);
    } else {
        const int64_t edge =
            static_cast<int64_t>(client.left) + BarPixels(pos, lower, upper, client.right - client.left);
        split.bar.right = split.background.left = Within(edge, client.left, client.right);
    }
    return split;
}

std::string ProgressLabel(const std::string& windowText, int32_t pos, int32_t lower, int32_t upper)
{
    if (!windowText.empty())
        return windowText;
    char percent[16];
    FormatText(percent, sizeof percent, "%d%%", static_cast<int>(ScaleFraction(pos, lower, upper, 100)));
    return percent;
}
