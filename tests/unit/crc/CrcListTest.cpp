#include <gtest/gtest.h>

#include "TestFiles.h"
#include "core/FileCrcRules.h"

namespace {

TEST(CrcNumber, UnsignedDecimalWithOptionalSignAndLeadingWhiteSpace)
{
    EXPECT_EQ(123456789u, ReadCrcNumber(L"123456789"));
    EXPECT_EQ(42u, ReadCrcNumber(L"   42"));
    EXPECT_EQ(42u, ReadCrcNumber(L"\t\v\f\n 42"));
    EXPECT_EQ(42u, ReadCrcNumber(L"+42"));
    EXPECT_EQ(4294967295u, ReadCrcNumber(L"4294967295"));
    EXPECT_EQ(4294967254u, ReadCrcNumber(L"-42"));
    EXPECT_EQ(1u, ReadCrcNumber(L"-4294967295"));
    EXPECT_EQ(0u, ReadCrcNumber(L"-0"));
    EXPECT_EQ(7u, ReadCrcNumber(L"0007"));
}

TEST(CrcNumber, ReadingStopsAtTheFirstOtherCharacter)
{
    EXPECT_EQ(0u, ReadCrcNumber(L"0x1A2B"));
    EXPECT_EQ(12u, ReadCrcNumber(L"12AB"));
    EXPECT_EQ(12u, ReadCrcNumber(L"12 34"));
    EXPECT_EQ(0u, ReadCrcNumber(L"ABCDEF"));
    EXPECT_EQ(0u, ReadCrcNumber(L""));
    EXPECT_EQ(0u, ReadCrcNumber(L"   "));
    EXPECT_EQ(0u, ReadCrcNumber(L"- 5"));
    EXPECT_EQ(0u, ReadCrcNumber(L"+-5"));
    EXPECT_EQ(0u, ReadCrcNumber(L"\x0663")); // an Arabic-Indic digit is no decimal digit here
}

TEST(CrcNumber, ValuesBeyondThirtyTwoBitsSaturate)
{
    EXPECT_EQ(4294967295u, ReadCrcNumber(L"4294967296"));
    EXPECT_EQ(4294967295u, ReadCrcNumber(L"99999999999999999999999999"));
    EXPECT_EQ(4294967295u, ReadCrcNumber(L"-99999999999"));
}

TEST(CrcList, OnlyLinesWithExactlyTwoFieldsCountInFileOrder)
{
    std::wstring strText = L"a.dll;1\r\n"
                           L"one-field\r\n"
                           L"x;y;z\r\n"
                           L"\r\n"
                           L";;bin\\b.dll;;  22;\r\n"
                           L"c.dll;0\r\n"
                           L"a.dll;3";
    std::vector<CrcListEntry> vec = ParseCrcList(strText);
    ASSERT_EQ(4u, vec.size());
    EXPECT_EQ(L"a.dll", vec[0].strName);
    EXPECT_EQ(1u, vec[0].dwCrc);
    EXPECT_EQ(L"bin\\b.dll", vec[1].strName);
    EXPECT_EQ(22u, vec[1].dwCrc);
    EXPECT_EQ(L"c.dll", vec[2].strName);
    EXPECT_EQ(0u, vec[2].dwCrc);
    EXPECT_EQ(3u, vec[3].dwCrc);
}

TEST(CrcList, OnlyCrSeparatesLinesAndLineFeedsAtTheEndsAreTrimmed)
{
    // LF alone does not end a line: the two lines are one with three fields.
    EXPECT_TRUE(ParseCrcList(L"a.dll;1\nb.dll;2").empty());
    std::vector<CrcListEntry> vec = ParseCrcList(L"\n\na.dll;1\n\r\r\n\nb.dll;2\n");
    ASSERT_EQ(2u, vec.size());
    EXPECT_EQ(L"a.dll", vec[0].strName);
    EXPECT_EQ(2u, vec[1].dwCrc);
    // Blanks belong to the name.
    EXPECT_EQ(L" c.dll ", ParseCrcList(L" c.dll ;5")[0].strName);
}

TEST(CrcList, EmptyTextHasNoLines)
{
    EXPECT_TRUE(ParseCrcList(L"").empty());
    EXPECT_TRUE(ParseCrcList(L"\r\n\r\n").empty());
}

} // namespace
