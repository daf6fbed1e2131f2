#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "core/DestPath.h"

namespace {

struct Choice {
    bool bFound;
    std::wstring strRoot;
    bool bDriveC;
};

// A drive list as the system returns it: roots of four units, each zero-terminated.
Choice Choose(std::initializer_list<const wchar_t*> roots)
{
    WCHAR szList[MAX_PATH] = {};
    DWORD cch = 0;
    for (const wchar_t* psz : roots) {
        wcscpy(szList + cch, psz);
        cch += 4;
    }
    WCHAR szRoot[MAX_PATH] = L"untouched";
    bool bDriveC = false;
    bool bFound = ChooseDriveRoot(szList, cch, szRoot, MAX_PATH, &bDriveC);
    return {bFound, szRoot, bDriveC};
}

TEST(ChooseDriveRootTest, PrefersDriveCWhereverItStands)
{
    Choice c = Choose({L"A:\\", L"C:\\", L"D:\\"});
    EXPECT_TRUE(c.bFound);
    EXPECT_EQ(L"C:\\", c.strRoot);
    EXPECT_TRUE(c.bDriveC);
}

TEST(ChooseDriveRootTest, WithoutDriveCTakesTheFirstRootWhateverItIs)
{
    Choice c = Choose({L"D:\\", L"E:\\"});
    EXPECT_TRUE(c.bFound);
    EXPECT_EQ(L"D:\\", c.strRoot);
    EXPECT_FALSE(c.bDriveC);
}

TEST(ChooseDriveRootTest, LowerCaseDriveCMatchesAndIsReportedAsListed)
{
    Choice c = Choose({L"a:\\", L"c:\\"});
    EXPECT_TRUE(c.bFound);
    EXPECT_EQ(L"c:\\", c.strRoot);
    EXPECT_TRUE(c.bDriveC);
}

TEST(ChooseDriveRootTest, NoListChoosesNothing)
{
    Choice c = Choose({});
    EXPECT_FALSE(c.bFound);
    WCHAR szRoot[8] = L"keep";
    bool bDriveC = true;
    EXPECT_FALSE(ChooseDriveRoot(L"C:", 2, szRoot, 8, &bDriveC));
    EXPECT_FALSE(ChooseDriveRoot(nullptr, 0, szRoot, 8, &bDriveC));
}

// A drive list that a new session gives only from its third request on, one that never comes, and
// one longer than the buffer.
int s_nEmptyAnswers = 0;
DWORD WINAPI LateList(DWORD cchBuffer, LPWSTR pszBuffer)
{
    if (s_nEmptyAnswers-- > 0)
        return 0;
    const WCHAR szList[] = L"C:\\\0Z:\\\0";
    if (cchBuffer < ARRAYSIZE(szList))
        return ARRAYSIZE(szList);
    memcpy(pszBuffer, szList, sizeof(szList));
    return 8;
}
DWORD WINAPI HugeList(DWORD cchBuffer, LPWSTR)
{
    return cchBuffer + 5;
}

TEST(QueryDriveListTest, AsksAgainUntilASessionKnowsItsDrives)
{
    WCHAR szList[MAX_PATH];
    int nAsked = 0;
    s_nEmptyAnswers = 2;
    EXPECT_EQ(8u, QueryDriveList(LateList, szList, MAX_PATH, 10, 1, &nAsked));
    EXPECT_EQ(3, nAsked);
    EXPECT_STREQ(L"C:\\", szList);

    s_nEmptyAnswers = 1000;
    EXPECT_EQ(0u, QueryDriveList(LateList, szList, MAX_PATH, 4, 1, &nAsked));
    EXPECT_EQ(4, nAsked);
    EXPECT_EQ(L'\0', szList[0]);

    EXPECT_EQ(0u, QueryDriveList(HugeList, szList, MAX_PATH, 4, 1, &nAsked));
    EXPECT_EQ(1, nAsked) << "a list that does not fit is not asked for again";
}

} // namespace
