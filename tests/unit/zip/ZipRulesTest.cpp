#include <gtest/gtest.h>
#include <windows.h>

#include "TestFiles.h"
#include "core/ZipLayerRules.h"

namespace {

TEST(ZipItemName, HostileNamesLoseEveryPartThatLeadsOutside)
{
    const struct {
        const WCHAR* pszStored;
        const WCHAR* pszSafe;
    } rgCases[] = {
        {L"C:/x.dll", L"x.dll"},
        {L"/x.dll", L"x.dll"},
        {L"\\x.dll", L"x.dll"},
        {L"../x.dll", L"x.dll"},
        {L"a/../../x.dll", L"x.dll"},
        {L"a\\..\\b\\x.dll", L"b\\x.dll"},
        {L"C:C:\\\\/../x.dll", L"x.dll"},
        {L"..\\../..\\x.dll", L"x.dll"},
        {L"a\\../b/x.dll", L"b/x.dll"},
        {L"a/..\\b/x.dll", L"b/x.dll"},
        {L"a/b/../../../c/x.dll", L"c/x.dll"},
        {L"d:", L""},
        {L"//", L""},
    };
    for (const auto& c : rgCases)
        EXPECT_EQ(std::wstring(c.pszSafe), SanitizeZipItemName(c.pszStored)) << Narrow(c.pszStored);
}

TEST(ZipItemName, OrdinaryNamesStayAsStored)
{
    for (const WCHAR* psz : {L"x.dll", L"sub/a.dll", L"sub\\deep/a.dll", L"..x/y.dll", L"a..b/c.dll", L"a/..b", L"./x"})
        EXPECT_EQ(std::wstring(psz), SanitizeZipItemName(psz));
}

TEST(ZipItemName, FolderPartEndsAtTheLastSeparatorOfEitherKind)
{
    EXPECT_EQ(0u, ZipItemFolderLength(L"x.dll"));
    EXPECT_EQ(4u, ZipItemFolderLength(L"sub/x.dll"));
    EXPECT_EQ(9u, ZipItemFolderLength(L"sub/deep\\x.dll"));
    EXPECT_EQ(5u, ZipItemFolderLength(L"docs/"));
}

TEST(ZipItemAttributes, DosLikeHostsKeepTheFiveWindowsBitsOnly)
{
    for (DWORD dwHost : {0u, 7u, 11u, 14u}) {
        EXPECT_EQ(0x37u, ZipItemAttributes(dwHost << 8 | 20, 0xFFFFFFFF)) << dwHost;
        EXPECT_EQ(0x03u, ZipItemAttributes(dwHost << 8 | 20, 0x03)) << dwHost;
        EXPECT_EQ(0x00u, ZipItemAttributes(dwHost << 8 | 20, 0x80 | 0x100)) << dwHost;
    }
}

TEST(ZipItemAttributes, OtherHostsReadAUnixModeFromTheHighHalf)
{
    const DWORD dwUnix = 3 << 8 | 30;
    EXPECT_EQ(0x20u, ZipItemAttributes(dwUnix, 0100644u << 16));
    EXPECT_EQ(0x21u, ZipItemAttributes(dwUnix, 0100444u << 16));
    EXPECT_EQ(0x30u, ZipItemAttributes(dwUnix, 040755u << 16 | 0x10));
    EXPECT_EQ(0x31u, ZipItemAttributes(dwUnix, 040555u << 16));
    // Windows bits in the low half mean nothing for these hosts.
    EXPECT_EQ(0x21u, ZipItemAttributes(19 << 8, 0x02 | 0x04));
}

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

std::string Le16(WORD w)
{
    return std::string {static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
}

std::string Le32(DWORD dw)
{
    return Le16(static_cast<WORD>(dw)) + Le16(static_cast<WORD>(dw >> 16));
}

std::string Block(const char* pszTag, const std::string& strData)
{
    return std::string(pszTag, 2) + Le16(static_cast<WORD>(strData.size())) + strData;
}

bool Find(const std::string& strExtra, ZipExtendedTimes& times)
{
    return FindExtendedTimes(reinterpret_cast<const BYTE*>(strExtra.data()), strExtra.size(), times);
}

TEST(ZipExtendedTimes, FlagsSayWhichTimesFollowInOrderModifiedAccessedCreated)
{
    ZipExtendedTimes times;
    ASSERT_TRUE(Find(Block("UT", "\x01" + Le32(1000)), times));
    EXPECT_TRUE(times.bModified);
    EXPECT_FALSE(times.bAccessed);
    EXPECT_FALSE(times.bCreated);
    EXPECT_EQ(1000u, times.dwModified);

    ASSERT_TRUE(Find(Block("UT", "\x06" + Le32(2000) + Le32(3000)), times));
    EXPECT_FALSE(times.bModified);
    EXPECT_EQ(2000u, times.dwAccessed);
    EXPECT_EQ(3000u, times.dwCreated);

    // Central headers carry only the modification time while the flags still name all three.
    ASSERT_TRUE(Find(Block("UT", "\x07" + Le32(4000)), times));
    EXPECT_TRUE(times.bModified);
    EXPECT_FALSE(times.bAccessed);
    EXPECT_FALSE(times.bCreated);
}

TEST(ZipExtendedTimes, OnlyTheFirstUtBlockCountsWhereverItStands)
{
    ZipExtendedTimes times;
    std::string strExtra = Block("ux", std::string("\x01\x04\xe8\x03\x00\x00", 6)) + Block("UT", "\x01" + Le32(5))
        + Block("UT", "\x07" + Le32(6) + Le32(7) + Le32(8));
    ASSERT_TRUE(Find(strExtra, times));
    EXPECT_EQ(5u, times.dwModified);
    EXPECT_FALSE(times.bAccessed);
}

TEST(ZipExtendedTimes, DamagedFieldsGiveNoTimesAndReadNothingOutside)
{
    ZipExtendedTimes times;
    EXPECT_FALSE(Find("", times));
    EXPECT_FALSE(Find("UT", times));
    // Block length runs past the field.
    EXPECT_FALSE(Find("UT" + Le16(9) + "\x01" + Le32(5), times));
    // An empty UT block is found but gives nothing.
    EXPECT_TRUE(Find(Block("UT", ""), times));
    EXPECT_FALSE(times.bModified);
    // Earlier block overruns: the UT block after it is not reached.
    EXPECT_FALSE(Find("xx" + Le16(40) + Block("UT", "\x01" + Le32(5)), times));
}

} // namespace
