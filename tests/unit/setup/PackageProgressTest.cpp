#include <gtest/gtest.h>

#include "core/PackageProgress.h"

namespace {

TEST(PackageProgressTest, PackagesEndAtTheirShareOf95)
{
    EXPECT_EQ(31, PackageEndProgress(1, 3));
    EXPECT_EQ(76, PackageEndProgress(8, 10));
    EXPECT_EQ(95, PackageEndProgress(10, 10));
}

TEST(PackageProgressTest, BytesMoveTheValueWithinTheShareAndNeverToItsEnd)
{
    CPackageProgress progress;
    progress.Begin(47, 95, 1000);
    EXPECT_EQ(-1, progress.Next(50, 100, 1099)) << "within 100 ms of the last value";
    EXPECT_EQ(71, progress.Next(50, 100, 1100));
    EXPECT_EQ(-1, progress.Next(51, 100, 1300)) << "still 71";
    EXPECT_EQ(94, progress.Next(99, 100, 1400)) << "the package's completion alone sets 95";
    EXPECT_EQ(-1, progress.Next(100, 100, 1500));
    EXPECT_EQ(-1, progress.Next(10, 100, 1600)) << "a body begun anew never takes the value back";
    EXPECT_EQ(-1, progress.Next(0, 0, 1700));

    progress.Begin(0, 95, 0);
    EXPECT_EQ(94, progress.Next(0xFFFFFFFE, 0xFFFFFFFF, 100)) << "bodies near 4 GiB";
    progress.Begin(87, 87, 0);
    EXPECT_EQ(-1, progress.Next(50, 100, 100)) << "a share of nothing shows nothing";
}

} // namespace
