#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/rules/ServedLists.h"

// orbsetup.txt and filecrc.txt, split as the installer splits them.

namespace {

TEST(Manifest, OnlyLinesOfExactlyThreeFieldsAreEntries)
{
    std::vector<std::u16string> ignored;
    const std::vector<ManifestLine> lines
        = SplitManifest(u"\r\ncore.zip;0;1\r\n a b.zip ;7;2\r\nfour;1;1;1\r\nskip;;1\r\nui.zip;;5;3;\r\n", &ignored);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(u"core.zip", lines[0].strName);
    EXPECT_EQ(u"1", lines[0].strKind);
    EXPECT_EQ(u" a b.zip ", lines[1].strName) << "blanks belong to the name";
    EXPECT_EQ(u"7", lines[1].strValue);
    EXPECT_EQ(u"ui.zip", lines[2].strName) << "empty fields are dropped";
    EXPECT_EQ(u"3", lines[2].strKind);
    EXPECT_EQ((std::vector<std::u16string> {u"four;1;1;1", u"skip;;1"}), ignored);
    EXPECT_EQ(1u, SplitManifest(u"a.zip;0;1").size()) << "without a list of the ignored ones";
}

TEST(Manifest, LineFeedsAloneDoNotSeparateLines)
{
    std::vector<std::u16string> ignored;
    EXPECT_TRUE(SplitManifest(u"a.zip;0;1\nb.zip;0;1\n", &ignored).empty());
    EXPECT_EQ(1u, ignored.size());
    EXPECT_EQ(MAX_PACKAGE_NAME_UNITS, 31u);
}

TEST(CrcList, OnlyLinesWithExactlyTwoFieldsCountInFileOrder)
{
    std::vector<std::u16string> ignored;
    const std::vector<CrcListLine> lines = ParseCrcList(u"a.dll;1\r\n"
                                                        u"one-field\r\n"
                                                        u"x;y;z\r\n"
                                                        u"\r\n"
                                                        u";;bin\\b.dll;;  22;\r\n"
                                                        u"c.dll;0\r\n"
                                                        u"a.dll;3",
        &ignored);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(u"a.dll", lines[0].strName);
    EXPECT_EQ(1u, lines[0].nCrc);
    EXPECT_EQ(u"bin\\b.dll", lines[1].strName);
    EXPECT_EQ(22u, lines[1].nCrc);
    EXPECT_EQ(0u, lines[2].nCrc);
    EXPECT_EQ(3u, lines[3].nCrc);
    EXPECT_EQ((std::vector<std::u16string> {u"one-field", u"x;y;z"}), ignored);
}

TEST(CrcList, OnlyCrSeparatesLinesAndLineFeedsAtTheEndsAreTrimmed)
{
    EXPECT_TRUE(ParseCrcList(u"a.dll;1\nb.dll;2").empty()) << "one line of three fields";
    const std::vector<CrcListLine> lines = ParseCrcList(u"\n\na.dll;1\n\r\r\n\nb.dll;2\n");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(u"a.dll", lines[0].strName);
    EXPECT_EQ(2u, lines[1].nCrc);
    EXPECT_EQ(u" c.dll ", ParseCrcList(u" c.dll ;5")[0].strName);
    EXPECT_EQ(3988292384u, ParseCrcList(u"a\\b.dll;3988292384")[0].nCrc);
    EXPECT_TRUE(ParseCrcList(u"").empty());
    EXPECT_TRUE(ParseCrcList(u"\r\n\r\n").empty());
}

} // namespace
