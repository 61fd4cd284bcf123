#include "updater/ProgressGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

BarRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return BarRect{left, top, right, bottom};
}

}  // namespace

TEST(ProgressGeometry, FractionIsNotClampedAndNeverOverflows)
{
    EXPECT_DOUBLE_EQ(ProgressFraction(25, 0, 100), 0.25);
    EXPECT_DOUBLE_EQ(ProgressFraction(150, 0, 100), 1.5);
    EXPECT_DOUBLE_EQ(ProgressFraction(-50, 0, 100), -0.5);
    EXPECT_DOUBLE_EQ(ProgressFraction(0, -100, 100), 0.5);
    // Differences that would overflow 32 bits.
    EXPECT_DOUBLE_EQ(ProgressFraction(kMax, kMin, kMax), 1.0);
    EXPECT_DOUBLE_EQ(ProgressFraction(kMin, kMin, kMax), 0.0);
    EXPECT_TRUE(std::isinf(ProgressFraction(5, 7, 7)));
    EXPECT_TRUE(std::isnan(ProgressFraction(7, 7, 7)));
}

TEST(ProgressGeometry, BarPixelsTruncateTowardZeroAndSaturate)
{
    EXPECT_EQ(BarPixels(0.0, 200), 0);
    EXPECT_EQ(BarPixels(0.499, 2), 0);
    EXPECT_EQ(BarPixels(0.57, 100), 56);  // 0.57 * 100 is 56.99...
    EXPECT_EQ(BarPixels(1.0, 200), 200);
    EXPECT_EQ(BarPixels(-0.004, 200), 0);
    EXPECT_EQ(BarPixels(-0.5, 200), -100);
    EXPECT_EQ(BarPixels(ProgressFraction(kMax, 0, 1), 300), kMax);
    EXPECT_EQ(BarPixels(ProgressFraction(kMin, 0, 1), 300), kMin);
    EXPECT_EQ(BarPixels(ProgressFraction(5, 7, 7), 300), kMin);
    EXPECT_EQ(BarPixels(ProgressFraction(9, 7, 7), 300), kMax);
    EXPECT_EQ(BarPixels(ProgressFraction(7, 7, 7), 300), 0);
    // A steady 0..100 run over a bar w pixels wide changes length at most w
    // times (fewer where the fraction lands a hair below a whole pixel) and
    // ends at the full width.
    for (int32_t width : {1, 37, 100, 101, 300}) {
        int changes = 0;
        int32_t last = 0;
        for (int32_t pos = 1; pos <= 100; ++pos) {
            const int32_t pixels = BarPixels(ProgressFraction(pos, 0, 100), width);
            EXPECT_GE(pixels, last);
            changes += pixels != last;
            last = pixels;
        }
        EXPECT_LE(changes, std::min(100, width)) << width;
        EXPECT_GE(changes, std::min(100, width) - 3) << width;
        EXPECT_EQ(last, width);
    }
}

TEST(ProgressGeometry, HorizontalBarGrowsFromTheLeftEdge)
{
    const BarRect client = Rect(10, 5, 210, 25);
    BarSplit split = SplitBar(client, 0.25, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 60, 25));
    EXPECT_EQ(split.background, Rect(60, 5, 210, 25));

    split = SplitBar(client, 0.0, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 10, 25));
    EXPECT_EQ(split.background, client);

    // Outside the range the rectangles stay within the client.
    split = SplitBar(client, 1.5, false);
    EXPECT_EQ(split.bar, client);
    EXPECT_EQ(split.background, Rect(210, 5, 210, 25));
    split = SplitBar(client, -3.0, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 10, 25));
    EXPECT_EQ(split.background, client);
    split = SplitBar(client, ProgressFraction(kMax, kMin, kMin + 1), false);
    EXPECT_EQ(split.bar, client);
}

TEST(ProgressGeometry, VerticalBarGrowsUpwardsFromTheLowerEdge)
{
    const BarRect client = Rect(0, 0, 20, 200);
    BarSplit split = SplitBar(client, 0.25, true);
    EXPECT_EQ(split.bar, Rect(0, 150, 20, 200));
    EXPECT_EQ(split.background, Rect(0, 0, 20, 150));

    split = SplitBar(client, 1.0, true);
    EXPECT_EQ(split.bar, client);
    EXPECT_EQ(split.background, Rect(0, 0, 20, 0));

    split = SplitBar(client, 7.0, true);
    EXPECT_EQ(split.bar, client);
    split = SplitBar(client, -1.0, true);
    EXPECT_EQ(split.bar, Rect(0, 200, 20, 200));
    EXPECT_EQ(split.background, client);
}

TEST(ProgressGeometry, EmptyClientGivesEmptyRectangles)
{
    for (bool vertical : {false, true}) {
        const BarSplit split = SplitBar(Rect(4, 4, 4, 4), 0.5, vertical);
        EXPECT_EQ(split.bar, Rect(4, 4, 4, 4));
        EXPECT_EQ(split.background, Rect(4, 4, 4, 4));
    }
}

TEST(ProgressGeometry, LabelIsTheTextOrTheTruncatedPercentage)
{
    EXPECT_EQ(ProgressLabel("", 0.0), "0%");
    EXPECT_EQ(ProgressLabel("", 0.999), "99%");
    EXPECT_EQ(ProgressLabel("", 1.0), "100%");
    EXPECT_EQ(ProgressLabel("", 1.5), "150%");
    EXPECT_EQ(ProgressLabel("", -0.255), "-25%");
    EXPECT_EQ(ProgressLabel("", ProgressFraction(kMax, 0, 1)), "2147483647%");
    EXPECT_EQ(ProgressLabel("", ProgressFraction(kMin, 0, 1)), "-2147483648%");
    EXPECT_EQ(ProgressLabel("", ProgressFraction(3, 3, 3)), "0%");
    EXPECT_EQ(ProgressLabel("\xCF\xC2\xD4\xD8 %d%%", 0.5), "\xCF\xC2\xD4\xD8 %d%%");  // GBK, used as it is
}
