#include <gtest/gtest.h>

#include "ui/SkinLayout.h"

namespace {

TEST(SkinLayoutTest, ReadyFaceWhateverTheProgress)
{
    EXPECT_EQ(SKIN_READY, SelectBackground(0, 0));
    EXPECT_EQ(SKIN_READY, SelectBackground(0, 60));
}

TEST(SkinLayoutTest, SlidesFollowEachOtherTwiceOverTheProgress)
{
    const struct {
        int nProgress;
        SkinBackground expected;
    } cases[] = {
        {0, SKIN_SLIDE1},
        {12, SKIN_SLIDE1},
        {13, SKIN_SLIDE2},
        {25, SKIN_SLIDE2},
        {26, SKIN_SLIDE3},
        {37, SKIN_SLIDE3},
        {38, SKIN_SLIDE4},
        {50, SKIN_SLIDE4},
        {51, SKIN_SLIDE1},
        {62, SKIN_SLIDE1},
        {63, SKIN_SLIDE2},
        {75, SKIN_SLIDE2},
        {76, SKIN_SLIDE3},
        {87, SKIN_SLIDE3},
        {88, SKIN_SLIDE4},
        {100, SKIN_SLIDE4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, SelectBackground(1, c.nProgress)) << "progress " << c.nProgress;
}

TEST(SkinLayoutTest, FillWidthIsTheProgressTimesFourPointNineTruncated)
{
    for (int n = 0; n <= 100; ++n)
        EXPECT_EQ(static_cast<int>(n * 4.9 + 1e-9), FillWidth(n)) << "progress " << n;
    EXPECT_EQ(49, FillWidth(10));
    EXPECT_EQ(490, FillWidth(100));
    EXPECT_EQ(0, FillWidth(0));
}

} // namespace
