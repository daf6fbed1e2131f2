#include "Text.h"

#include <gtest/gtest.h>

using namespace publish;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

} // namespace

TEST(ServedText, IsUtf16LittleEndianWithMarkAndCrLf)
{
    EXPECT_EQ(EncodeServedText({u"a;1", u"\u8bf4"}),
        Bytes({0xFF, 0xFE, 'a', 0, ';', 0, '1', 0, '\r', 0, '\n', 0, 0xF4, 0x8B, '\r', 0, '\n', 0}));
}

TEST(ServedText, DecodesLikeTheInstaller)
{
    // The first two bytes are skipped unseen, text ends at a zero unit, an odd last byte is a unit.
    EXPECT_EQ(DecodeServedText(Bytes({'x', 'y', 'a', 0, 'b', 0})), u"ab");
    EXPECT_EQ(DecodeServedText(Bytes({0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0})), u"a");
    EXPECT_EQ(DecodeServedText(Bytes({0xFF, 0xFE, 'a', 0, 'b'})), u"ab");
    EXPECT_EQ(DecodeServedText(Bytes({0xFF, 0xFE, 'a'})), u"a");
}

TEST(Manifest, ReadsOnlyLinesOfExactlyThreeFields)
{
    std::vector<std::u16string> ignored;
    const auto entries
        = ParseManifest(u"\r\ncore.zip;0;1\r\n a b.zip ;7;2\r\nfour;1;1;1\r\nskip;;1\r\nui.zip;;5;3;\r\n", ignored);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, u"core.zip");
    EXPECT_EQ(entries[0].kind, 1);
    EXPECT_EQ(entries[1].name, u" a b.zip ");
    EXPECT_EQ(entries[1].value, 7);
    EXPECT_EQ(entries[2].name, u"ui.zip");
    EXPECT_EQ(entries[2].kind, 3);
    EXPECT_EQ(ignored, (std::vector<std::u16string> {u"four;1;1;1", u"skip;;1"}));
}

TEST(Manifest, LineFeedsAloneDoNotSeparateLines)
{
    std::vector<std::u16string> ignored;
    EXPECT_TRUE(ParseManifest(u"a.zip;0;1\nb.zip;0;1\n", ignored).empty());
    EXPECT_EQ(ignored.size(), 1u);
}

TEST(Manifest, NumbersAreReadLikeTheCRuntime)
{
    EXPECT_EQ(ReadSignedDecimal(u"  -12x"), -12);
    EXPECT_EQ(ReadSignedDecimal(u"two"), 0);
    EXPECT_EQ(ReadSignedDecimal(u"99999999999"), 2147483647);
    EXPECT_EQ(ReadSignedDecimal(u"-99999999999"), -2147483647 - 1);
}

TEST(CrcList, NumbersAreUnsigned32Bit)
{
    EXPECT_EQ(ReadUnsignedDecimal(u" 4294967295"), 4294967295u);
    EXPECT_EQ(ReadUnsignedDecimal(u"4294967296"), 4294967295u);
    EXPECT_EQ(ReadUnsignedDecimal(u"-1"), 4294967295u);
    EXPECT_EQ(ReadUnsignedDecimal(u"0x1F"), 0u);
    EXPECT_EQ(ReadUnsignedDecimal(u"12ab"), 12u);
    std::vector<std::u16string> ignored;
    const auto entries = ParseCrcList(u"a\\b.dll;3988292384\r\nc.dll;1;2\r\n", ignored);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, u"a\\b.dll");
    EXPECT_EQ(entries[0].crc, 3988292384u);
    EXPECT_EQ(ignored.size(), 1u);
}

TEST(Utf8, ConvertsBothWaysAndRefusesMalformedInput)
{
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16("x\xE8\xAF\xB4\xF0\x9F\x98\x80", wide));
    EXPECT_EQ(wide, u"x\u8bf4\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), "x\xE8\xAF\xB4\xF0\x9F\x98\x80");
    for (const char* bad : {"\x80", "\xC0\xAF", "\xE8\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(Utf8ToUtf16(bad, wide)) << bad;
}

TEST(PathKey, FoldsCaseAndSeparatorsAsWindowsDoes)
{
    EXPECT_EQ(PathKey(u"Config/Orb.ini"), PathKey(u"config\\ORB.INI"));
    EXPECT_EQ(PathKey(u"\u00e9t\u00e9"), PathKey(u"\u00c9T\u00c9"));
    EXPECT_NE(PathKey(u"a.txt"), PathKey(u"a.txt."));
}
