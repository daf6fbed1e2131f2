#include <gtest/gtest.h>
#include <windows.h>

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

} // namespace
