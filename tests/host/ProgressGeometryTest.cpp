#include "dialog/ProgressGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

BarRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return BarRect{left, top, right, bottom};
}

}  // namespace

TEST(ProgressGeometry, BarPixelsTruncateTowardZeroWithoutClamping)
{
    EXPECT_EQ(BarPixels(0, 0, 100, 200), 0);
    EXPECT_EQ(BarPixels(47, 0, 100, 200), 94);  // 0.47 * 200 in doubles is 93.99...
    EXPECT_EQ(BarPixels(57, 0, 100, 100), 57);
    EXPECT_EQ(BarPixels(1, 0, 100, 50), 0);
    EXPECT_EQ(BarPixels(3, 0, 100, 50), 1);
    EXPECT_EQ(BarPixels(100, 0, 100, 200), 200);
    EXPECT_EQ(BarPixels(150, 0, 100, 200), 300);
    EXPECT_EQ(BarPixels(-1, 0, 100, 50), 0);  // -0.5 truncates to 0
    EXPECT_EQ(BarPixels(-50, 0, 100, 200), -100);
    EXPECT_EQ(BarPixels(0, -100, 100, 200), 100);
    EXPECT_EQ(BarPixels(8, 10, 6, 200), 100);  // a reversed range still divides
}

TEST(ProgressGeometry, ExtremesSaturateInsteadOfOverflowing)
{
    EXPECT_EQ(BarPixels(kMax, kMin, kMax, kMax), kMax);
    EXPECT_EQ(BarPixels(kMin, kMin, kMax, kMax), 0);
    EXPECT_EQ(BarPixels(kMax, kMin, kMax, kMin), kMin);
    EXPECT_EQ(BarPixels(kMax, 0, 1, 300), kMax);
    EXPECT_EQ(BarPixels(kMin, 0, 1, 300), kMin);
    EXPECT_EQ(BarPixels(kMax, kMin, kMin + 1, kMax), kMax);
    // An empty range: an infinite fraction, or none on the range itself.
    EXPECT_EQ(BarPixels(9, 7, 7, 300), kMax);
    EXPECT_EQ(BarPixels(5, 7, 7, 300), kMin);
    EXPECT_EQ(BarPixels(7, 7, 7, 300), 0);
    EXPECT_EQ(BarPixels(9, 7, 7, 0), 0);
}

TEST(ProgressGeometry, ZeroToHundredChangesLengthOncePerPixelAtMost)
{
    for (int32_t width : {1, 37, 50, 100, 101, 300}) {
        int changes = 0;
        int32_t last = 0;
        for (int32_t pos = 1; pos <= 100; ++pos) {
            const int32_t pixels = BarPixels(pos, 0, 100, width);
            EXPECT_GE(pixels, last);
            changes += pixels != last;
            last = pixels;
        }
        EXPECT_EQ(changes, std::min(100, width)) << width;
        EXPECT_EQ(last, width);
    }
}

TEST(ProgressGeometry, HorizontalBarGrowsFromTheLeftEdge)
{
    const BarRect client = Rect(10, 5, 210, 25);
    BarSplit split = SplitBar(client, 25, 0, 100, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 60, 25));
    EXPECT_EQ(split.background, Rect(60, 5, 210, 25));

    split = SplitBar(client, 0, 0, 100, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 10, 25));
    EXPECT_EQ(split.background, client);

    // Outside the range the rectangles stay within the client.
    split = SplitBar(client, 150, 0, 100, false);
    EXPECT_EQ(split.bar, client);
    EXPECT_EQ(split.background, Rect(210, 5, 210, 25));
    split = SplitBar(client, -300, 0, 100, false);
    EXPECT_EQ(split.bar, Rect(10, 5, 10, 25));
    EXPECT_EQ(split.background, client);
    split = SplitBar(client, kMax, kMin, kMin + 1, false);
    EXPECT_EQ(split.bar, client);
}

TEST(ProgressGeometry, VerticalBarGrowsUpwardsFromTheLowerEdge)
{
    const BarRect client = Rect(0, 0, 20, 200);
    BarSplit split = SplitBar(client, 25, 0, 100, true);
    EXPECT_EQ(split.bar, Rect(0, 150, 20, 200));
    EXPECT_EQ(split.background, Rect(0, 0, 20, 150));

    split = SplitBar(client, 100, 0, 100, true);
    EXPECT_EQ(split.bar, client);
    EXPECT_EQ(split.background, Rect(0, 0, 20, 0));

    split = SplitBar(client, 700, 0, 100, true);
    EXPECT_EQ(split.bar, client);
    split = SplitBar(client, kMin, 0, 100, true);
    EXPECT_EQ(split.bar, Rect(0, 200, 20, 200));
    EXPECT_EQ(split.background, client);
}

TEST(ProgressGeometry, EmptyClientGivesEmptyRectangles)
{
    for (bool vertical : {false, true}) {
        const BarSplit split = SplitBar(Rect(4, 4, 4, 4), 50, 0, 100, vertical);
        EXPECT_EQ(split.bar, Rect(4, 4, 4, 4));
        EXPECT_EQ(split.background, Rect(4, 4, 4, 4));
    }
}

TEST(ProgressGeometry, LabelIsTheTextOrTheTruncatedPercentage)
{
    EXPECT_EQ(ProgressLabel("", 0, 0, 100), "0%");
    for (int32_t pos = 0; pos <= 100; ++pos)
        ASSERT_EQ(ProgressLabel("", pos, 0, 100), std::to_string(pos) + "%");
    EXPECT_EQ(ProgressLabel("", 999, 0, 1000), "99%");
    EXPECT_EQ(ProgressLabel("", 150, 0, 100), "150%");
    EXPECT_EQ(ProgressLabel("", -255, 0, 1000), "-25%");
    EXPECT_EQ(ProgressLabel("", kMax, 0, 1), "2147483647%");
    EXPECT_EQ(ProgressLabel("", kMin, 0, 1), "-2147483648%");
    EXPECT_EQ(ProgressLabel("", 3, 3, 3), "0%");
    EXPECT_EQ(ProgressLabel("\xCF\xC2\xD4\xD8 %d%%", 50, 0, 100), "\xCF\xC2\xD4\xD8 %d%%");  // GBK, used as it is
}
