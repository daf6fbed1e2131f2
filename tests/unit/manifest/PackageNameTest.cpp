#include <gtest/gtest.h>
#include <windows.h>

#include "TestFiles.h"
#include "core/PackageName.h"

namespace {

TEST(PackageNameTest, NamesThatStayInTheTemporaryFolder)
{
    for (const wchar_t* pszName : {L"core.zip", L" spaced name.zip ", L"sub\\p02.zip", L"sub/p02.zip", L".\\x.zip",
             L"a..b.zip", L"..x.zip", L"x.zip.", L"a\\\\b.zip", L"console.zip", L"com0.zip", L"LPT10.zip"})
        EXPECT_TRUE(IsNameInsideFolder(pszName)) << Narrow(pszName);
}

TEST(PackageNameTest, NamesThatClimbOutNameADriveAStreamOrADeviceAreRefused)
{
    for (const wchar_t* pszName : {L"..\\x.zip", L"../x.zip", L"..\\Windows\\x.dll", L"a\\..\\..\\x.zip", L"..",
             L"sub\\..", L"...\\x.zip", L".. \\x.zip", L". .\\x.zip", L"C:\\x.zip", L"C:x.zip", L"x.zip:ads",
             L"\\x.zip", L"/x.zip", L"\\\\server\\share\\x.zip", L"NUL", L"nul.zip", L"CON .zip", L"sub\\aux.zip",
             L"COM1.zip", L"lpt9", L"COM\u00B9.zip", L"lpt\u00B3", L""})
        EXPECT_FALSE(IsNameInsideFolder(pszName)) << Narrow(pszName);
    EXPECT_FALSE(IsNameInsideFolder(nullptr));
}

} // namespace
