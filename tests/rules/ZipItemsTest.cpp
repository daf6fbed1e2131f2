#include <gtest/gtest.h>

#include <string>

#include "core/rules/ZipItems.h"

// Zip items as the installer's extraction reads them.

namespace {

std::string Narrow(const char16_t* psz)
{
    return std::string(psz, psz + std::char_traits<char16_t>::length(psz));
}

TEST(ZipItemName, HostileNamesLoseEveryPartThatLeadsOutside)
{
    const struct {
        const char16_t* pszStored;
        const char16_t* pszSafe;
    } cases[] = {
        {u"C:/x.dll", u"x.dll"},
        {u"/x.dll", u"x.dll"},
        {u"\\x.dll", u"x.dll"},
        {u"../x.dll", u"x.dll"},
        {u"a/../../x.dll", u"x.dll"},
        {u"a\\..\\b\\x.dll", u"b\\x.dll"},
        {u"C:C:\\\\/../x.dll", u"x.dll"},
        {u"..\\../..\\x.dll", u"x.dll"},
        {u"a\\../b/x.dll", u"b/x.dll"},
        {u"a/..\\b/x.dll", u"b/x.dll"},
        {u"a/b/../../../c/x.dll", u"c/x.dll"},
        {u"d:", u""},
        {u"//", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::u16string(c.pszSafe), SanitizeZipItemName(c.pszStored)) << Narrow(c.pszStored);
}

TEST(ZipItemName, OrdinaryNamesStayAsStored)
{
    for (const char16_t* psz :
        {u"x.dll", u"sub/a.dll", u"sub\\deep/a.dll", u"..x/y.dll", u"a..b/c.dll", u"a/..b", u"./x", u"a..b/c"})
        EXPECT_EQ(std::u16string(psz), SanitizeZipItemName(psz)) << Narrow(psz);
}

TEST(ZipItemName, FolderPartEndsAtTheLastSeparatorOfEitherKind)
{
    EXPECT_EQ(0u, ZipItemFolderLength(u"x.dll"));
    EXPECT_EQ(4u, ZipItemFolderLength(u"sub/x.dll"));
    EXPECT_EQ(9u, ZipItemFolderLength(u"sub/deep\\x.dll"));
    EXPECT_EQ(5u, ZipItemFolderLength(u"docs/"));
}

TEST(ZipItemAttributes, DosLikeHostsKeepTheFiveWindowsBitsOnly)
{
    for (uint32_t nHost : {0u, 7u, 11u, 14u}) {
        EXPECT_TRUE(IsWindowsAttributeHost(nHost << 8 | 20)) << nHost;
        EXPECT_EQ(0x37u, ZipItemAttributes(nHost << 8 | 20, 0xFFFFFFFF)) << nHost;
        EXPECT_EQ(0x03u, ZipItemAttributes(nHost << 8 | 20, 0x03)) << nHost;
        EXPECT_EQ(0x00u, ZipItemAttributes(nHost << 8 | 20, 0x80 | 0x100)) << nHost;
    }
}

TEST(ZipItemAttributes, OtherHostsReadAUnixModeFromTheHighHalf)
{
    const uint32_t nUnix = 3 << 8 | 30;
    EXPECT_FALSE(IsWindowsAttributeHost(nUnix));
    EXPECT_EQ(ZIP_ATTRIBUTE_ARCHIVE, ZipItemAttributes(nUnix, 0100644u << 16));
    EXPECT_EQ(ZIP_ATTRIBUTE_ARCHIVE | ZIP_ATTRIBUTE_READONLY, ZipItemAttributes(nUnix, 0100444u << 16));
    EXPECT_EQ(0x30u, ZipItemAttributes(nUnix, 040755u << 16 | 0x10));
    EXPECT_EQ(0x31u, ZipItemAttributes(nUnix, 040555u << 16));
    // Windows bits in the low half mean nothing for these hosts.
    EXPECT_EQ(0x21u, ZipItemAttributes(19 << 8, 0x02 | 0x04));
}

std::string Le16(uint32_t n)
{
    return std::string {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF)};
}

std::string Le32(uint32_t n)
{
    return Le16(n & 0xFFFF) + Le16(n >> 16);
}

std::string Block(const char* pszTag, const std::string& strData)
{
    return std::string(pszTag, 2) + Le16(static_cast<uint32_t>(strData.size())) + strData;
}

bool Find(const std::string& strExtra, ZipExtendedTimes& times)
{
    return FindExtendedTimes(reinterpret_cast<const uint8_t*>(strExtra.data()), strExtra.size(), times);
}

TEST(ZipExtendedTimes, FlagsSayWhichTimesFollowInOrderModifiedAccessedCreated)
{
    ZipExtendedTimes times;
    ASSERT_TRUE(Find(Block("UT", "\x01" + Le32(1000)), times));
    EXPECT_TRUE(times.bModified);
    EXPECT_FALSE(times.bAccessed);
    EXPECT_FALSE(times.bCreated);
    EXPECT_EQ(1000u, times.nModified);

    ASSERT_TRUE(Find(Block("UT", "\x06" + Le32(2000) + Le32(3000)), times));
    EXPECT_FALSE(times.bModified);
    EXPECT_EQ(2000u, times.nAccessed);
    EXPECT_EQ(3000u, times.nCreated);

    // Central headers carry only the modification time while the flags still name all three.
    ASSERT_TRUE(Find(Block("UT", "\x07" + Le32(4000)), times));
    EXPECT_TRUE(times.bModified);
    EXPECT_FALSE(times.bAccessed);
    EXPECT_FALSE(times.bCreated);
}

TEST(ZipExtendedTimes, OnlyTheFirstUtBlockCountsWhereverItStands)
{
    ZipExtendedTimes times;
    const std::string strExtra = Block("ux", std::string("\x01\x04\xe8\x03\x00\x00", 6)) + Block("UT", "\x01" + Le32(5))
        + Block("UT", "\x07" + Le32(6) + Le32(7) + Le32(8));
    ASSERT_TRUE(Find(strExtra, times));
    EXPECT_EQ(5u, times.nModified);
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
