#include <gtest/gtest.h>
#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/PackageList.h"
#include "support/Log.h"

namespace {

TEST(ReadAnsiDecimalTest, ReadsLikeAtoiAfterConversionToTheAnsiCodePage)
{
    EXPECT_EQ(42, ReadAnsiDecimal(L"42"));
    EXPECT_EQ(-7, ReadAnsiDecimal(L"  \t-7"));
    EXPECT_EQ(5, ReadAnsiDecimal(L"+5x9"));
    EXPECT_EQ(0, ReadAnsiDecimal(L"two"));
    EXPECT_EQ(0, ReadAnsiDecimal(L""));
    EXPECT_EQ(0, ReadAnsiDecimal(L"- 3"));
    EXPECT_EQ(12, ReadAnsiDecimal(L"12abc"));
    EXPECT_EQ(0, ReadAnsiDecimal(L"0x12"));
    // Full-width digits are not ASCII digits once converted to code page 936.
    EXPECT_EQ(0, ReadAnsiDecimal(L"\xFF11\xFF12"));
    EXPECT_EQ(2147483647, ReadAnsiDecimal(L"99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, ReadAnsiDecimal(L"-99999999999999999999"));
}

class ParsePackageLinesTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeTempFolder(L"manifest");
        wcscpy(g_szLogPath, (m_folder + L"\\log.txt").c_str());
    }
    void TearDown() override { g_szLogPath[0] = L'\0'; }
    std::wstring Log() { return Utf16(ReadFileBytes(m_folder + L"\\log.txt")); }

    std::vector<PackageEntry> m_packages;
    std::wstring m_folder;
};

TEST_F(ParsePackageLinesTest, ThreeFieldLinesBecomeEntriesInOrder)
{
    int n = ParsePackageLines(L"\r\ncore.zip;1;1\r\n ui.zip ;2;2\r\n\r\nalt.zip;3;3\r\ncore.zip;1;1\r\n", m_packages);
    ASSERT_EQ(4, n);
    ASSERT_EQ(4u, m_packages.size());
    EXPECT_STREQ(L"core.zip", m_packages[0].szName);
    EXPECT_EQ(1, m_packages[0].nValue);
    EXPECT_EQ(1, m_packages[0].nKind);
    EXPECT_STREQ(L" ui.zip ", m_packages[1].szName) << "spaces stay part of the name";
    EXPECT_EQ(2, m_packages[1].nKind);
    EXPECT_STREQ(L"alt.zip", m_packages[2].szName);
    EXPECT_STREQ(L"core.zip", m_packages[3].szName) << "a repeated line gives a repeated entry";
}

TEST_F(ParsePackageLinesTest, LinesWithOtherFieldCountsAreSkippedSilently)
{
    EXPECT_EQ(1, ParsePackageLines(L"a.zip;1\r\nb.zip;1;1;1\r\nc.zip;;1\r\n;d.zip;1;1;\r\n", m_packages));
    EXPECT_STREQ(L"d.zip", m_packages[0].szName) << "separators at both ends add no field";
    EXPECT_EQ(L"", Log());
}

TEST_F(ParsePackageLinesTest, LfOnlyLineEndsLeaveOneLineOfTooManyFields)
{
    EXPECT_EQ(0, ParsePackageLines(L"a.zip;1;1\nb.zip;1;1\nc.zip;1;1\n", m_packages));
}

TEST_F(ParsePackageLinesTest, KindsOutsideOneToThreeStayInTheList)
{
    ASSERT_EQ(3, ParsePackageLines(L"a.zip;1;0\rb.zip;1;-2\rc.zip;x;two\r", m_packages));
    EXPECT_EQ(0, m_packages[0].nKind);
    EXPECT_EQ(-2, m_packages[1].nKind);
    EXPECT_EQ(0, m_packages[2].nKind);
    EXPECT_EQ(0, m_packages[2].nValue);
}

TEST_F(ParsePackageLinesTest, NameLongerThanThirtyOneCharactersRefusesItsLine)
{
    std::wstring strLong31(31, L'n');
    std::wstring strLong32(32, L'm');
    ASSERT_EQ(2, ParsePackageLines(strLong31 + L";1;1\r\n" + strLong32 + L";1;1\r\nafter.zip;1;1\r\n", m_packages));
    EXPECT_EQ(strLong31, m_packages[0].szName);
    EXPECT_STREQ(L"after.zip", m_packages[1].szName);
    EXPECT_NE(
        std::wstring::npos, Log().find(L"[CSetupDlg::ParsePackageList] name too long, line skipped: " + strLong32));
}

TEST_F(ParsePackageLinesTest, StartsFromAnEmptyList)
{
    ParsePackageLines(L"a.zip;1;1\r\n", m_packages);
    EXPECT_EQ(1, ParsePackageLines(L"b.zip;1;1\r\n", m_packages));
    EXPECT_STREQ(L"b.zip", m_packages[0].szName);
    EXPECT_EQ(0, ParsePackageLines(L"", m_packages));
    EXPECT_TRUE(m_packages.empty());
}

TEST_F(ParsePackageLinesTest, TenThousandLinesAndRandomTextAreHandled)
{
    std::wstring strText;
    for (int i = 0; i < 10000; ++i)
        strText += L"package" + std::to_wstring(i) + L".zip;" + std::to_wstring(i) + L";" + std::to_wstring(i % 3 + 1)
            + L"\r\n";
    ASSERT_EQ(10000, ParsePackageLines(strText, m_packages));
    EXPECT_STREQ(L"package9999.zip", m_packages[9999].szName);
    EXPECT_EQ(1, m_packages[9999].nKind);

    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> unit(1, 0xFFFF);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int round = 0; round < 200; ++round) {
        std::wstring strRandom;
        for (int i = 0; i < 400; ++i) {
            int p = pick(rng);
            strRandom.push_back(p == 0 ? L';' : p == 1 ? L'\r' : p == 2 ? L'\n' : static_cast<wchar_t>(unit(rng)));
        }
        int n = ParsePackageLines(strRandom, m_packages);
        ASSERT_EQ(static_cast<int>(m_packages.size()), n);
        for (const PackageEntry& entry : m_packages)
            ASSERT_LT(wcslen(entry.szName), 32u);
    }
}

} // namespace
