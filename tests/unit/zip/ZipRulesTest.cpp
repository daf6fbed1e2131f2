#include <gtest/gtest.h>
#include <windows.h>

#include "TestFiles.h"
#include "core/ZipLayerRules.h"

namespace {

SYSTEMTIME LocalOf(const FILETIME& ftUtc)
{
    FILETIME ftLocal;
    FileTimeToLocalFileTime(&ftUtc, &ftLocal);
    SYSTEMTIME st;
    FileTimeToSystemTime(&ftLocal, &st);
    return st;
}

SYSTEMTIME UtcOf(const FILETIME& ft)
{
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    return st;
}

TEST(ZipItemTimes, DosDateAndTimeAreLocalTime)
{
    FILETIME ft;
    ASSERT_TRUE(DosDateTimeToUtc(((2021 - 1980) << 9) | (3 << 5) | 14, (15 << 11) | (9 << 5) | 13, &ft));
    SYSTEMTIME st = LocalOf(ft);
    EXPECT_EQ(2021, st.wYear);
    EXPECT_EQ(3, st.wMonth);
    EXPECT_EQ(14, st.wDay);
    EXPECT_EQ(15, st.wHour);
    EXPECT_EQ(9, st.wMinute);
    EXPECT_EQ(26, st.wSecond);
}

TEST(ZipItemTimes, InvalidDosDateGivesZeroTime)
{
    FILETIME ft = {1, 1};
    EXPECT_FALSE(DosDateTimeToUtc(((2021 - 1980) << 9) | (13 << 5) | 1, 0, &ft));
    EXPECT_EQ(0u, ft.dwLowDateTime);
    EXPECT_EQ(0u, ft.dwHighDateTime);
}

TEST(ZipItemTimes, UnixTimesAreUnsignedSecondsSince1970)
{
    FILETIME ft = UnixTimeToFileTime(0);
    EXPECT_EQ(116444736000000000ULL, (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    SYSTEMTIME st = UtcOf(UnixTimeToFileTime(1700000000));
    EXPECT_EQ(2023, st.wYear);
    EXPECT_EQ(11, st.wMonth);
    EXPECT_EQ(14, st.wDay);
    EXPECT_EQ(22, st.wHour);
    EXPECT_EQ(13, st.wMinute);
    EXPECT_EQ(20, st.wSecond);
    EXPECT_EQ(2106, UtcOf(UnixTimeToFileTime(0xFFFFFFFF)).wYear);
}

} // namespace
