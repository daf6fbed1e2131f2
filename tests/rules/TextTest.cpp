#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/Text.h"

// The text rules the installer reads served files by and the publisher writes them by.

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

std::u16string Decode(const std::string& bytes)
{
    return DecodeServedText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(ServedText, IsUtf16LittleEndianWithMarkAndCrLf)
{
    EXPECT_EQ(EncodeServedText({u"a;1", u"\u8bf4"}),
        Bytes({0xFF, 0xFE, 'a', 0, ';', 0, '1', 0, '\r', 0, '\n', 0, 0xF4, 0x8B, '\r', 0, '\n', 0}));
    EXPECT_EQ(Decode(EncodeServedText({u"a;1", u"\u8bf4"})), u"a;1\r\n\u8bf4\r\n");
}

TEST(ServedText, SkipsTheMarkUnseenAndEndsAtTheFirstZeroUnitOrTheEnd)
{
    EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 'a', 0, 'b', 0})), u"ab");
    EXPECT_EQ(Decode(Bytes({0xFF, 0xFE})), u"");
    EXPECT_EQ(Decode(Bytes({'x', 'y', 'a', 0, 'b', 0})), u"ab") << "any two bytes are skipped";
    EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0})), u"a");
    EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 'a', 0, 'b'})), u"ab") << "an odd last byte is a unit of its own";
    EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 0, 0})), u"");
    EXPECT_EQ(DecodeServedText(nullptr, 4), u"");
}

TEST(SplitString, DropsEmptyPiecesWhereverTheyFall)
{
    using V = std::vector<std::u16string>;
    EXPECT_EQ(V {}, SplitString(u"", u';'));
    EXPECT_EQ(V {u"whole"}, SplitString(u"whole", u';'));
    EXPECT_EQ((V {u"a", u"b", u"c"}), SplitString(u"a;b;c", u';'));
    EXPECT_EQ((V {u"a", u"c"}), SplitString(u";a;;c;", u';'));
    EXPECT_EQ(V {}, SplitString(u";;;", u';'));
    EXPECT_EQ((V {u" a ", u" "}), SplitString(u" a ; ", u';'));
}

TEST(SplitString, LinesEndAtCrOnlyAndLoseCrAndLfAtBothEnds)
{
    using V = std::vector<std::u16string>;
    EXPECT_EQ((V {u"a", u"b"}), SplitLines(u"\n\na\n\r\r\n\nb\n"));
    EXPECT_EQ((V {u"a\nb"}), SplitLines(u"a\nb")) << "LF alone ends no line";
    EXPECT_EQ(V {}, SplitLines(u"\r\n\r\n"));
    EXPECT_EQ(u" c ", TrimLineEnds(u"\r\n c \n"));
}

TEST(Decimal, SignedReadsLikeAtoiAndSaturates)
{
    EXPECT_EQ(42, ReadSignedDecimal(std::u16string(u"42")));
    EXPECT_EQ(-7, ReadSignedDecimal(std::u16string(u"  \t-7")));
    EXPECT_EQ(5, ReadSignedDecimal(std::u16string(u"+5x9")));
    EXPECT_EQ(-12, ReadSignedDecimal(std::u16string(u"  -12x")));
    for (const char16_t* psz : {u"two", u"", u"- 3", u"0x12", u"\uFF11\uFF12"})
        EXPECT_EQ(0, ReadSignedDecimal(std::u16string(psz)));
    EXPECT_EQ(12, ReadSignedDecimal(std::u16string(u"12abc")));
    EXPECT_EQ(2147483647, ReadSignedDecimal(std::u16string(u"99999999999999999999")));
    EXPECT_EQ(-2147483647 - 1, ReadSignedDecimal(std::u16string(u"-99999999999")));
    // The installer reads the bytes of its ANSI code page the same way.
    EXPECT_EQ(-7, ReadSignedDecimal(std::string("\v-7\xA3\xB1")));
}

TEST(Decimal, UnsignedIsModulo32BitsWithTheMagnitudeSaturated)
{
    EXPECT_EQ(123456789u, ReadUnsignedDecimal(u"123456789"));
    EXPECT_EQ(42u, ReadUnsignedDecimal(u"\t\v\f\n 42"));
    EXPECT_EQ(42u, ReadUnsignedDecimal(u"+42"));
    EXPECT_EQ(4294967295u, ReadUnsignedDecimal(u"4294967295"));
    EXPECT_EQ(4294967254u, ReadUnsignedDecimal(u"-42"));
    EXPECT_EQ(1u, ReadUnsignedDecimal(u"-4294967295"));
    EXPECT_EQ(0u, ReadUnsignedDecimal(u"-0"));
    EXPECT_EQ(7u, ReadUnsignedDecimal(u"0007"));
    for (const char16_t* psz : {u"0x1A2B", u"ABCDEF", u"", u"   ", u"- 5", u"+-5", u"\u0663"})
        EXPECT_EQ(0u, ReadUnsignedDecimal(psz));
    EXPECT_EQ(12u, ReadUnsignedDecimal(u"12 34"));
    EXPECT_EQ(4294967295u, ReadUnsignedDecimal(u"4294967296"));
    EXPECT_EQ(4294967295u, ReadUnsignedDecimal(u"99999999999999999999999999"));
    EXPECT_EQ(4294967295u, ReadUnsignedDecimal(u"-99999999999")) << "a saturated magnitude is not negated";
}

TEST(Utf8, ConvertsBothWaysAndRefusesMalformedInput)
{
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16("x\xE8\xAF\xB4\xF0\x9F\x98\x80", wide));
    EXPECT_EQ(wide, u"x\u8bf4\U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), "x\xE8\xAF\xB4\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD") << "a lone surrogate";
    for (const char* bad : {"\x80", "\xC0\xAF", "\xE8\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(Utf8ToUtf16(bad, wide)) << bad;
}

} // namespace
