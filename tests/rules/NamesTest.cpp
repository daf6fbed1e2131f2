#include <gtest/gtest.h>

#include <string>

#include "core/rules/Names.h"

// Which names Windows and the installer take where.

namespace {

TEST(DeviceName, TheStemBeforeTheFirstDotNamesADeviceInAnyCase)
{
    for (const char16_t* psz : {u"CON", u"prn", u"Aux.txt", u"nul.tar.gz", u"CON .zip", u"conin$", u"CONOUT$.log",
             u"COM1", u"com9.zip", u"LPT1", u"lpt9", u"COM\u00B9.zip", u"LPT\u00B2", u"lpt\u00B3"})
        EXPECT_TRUE(IsDeviceName(psz)) << std::string(psz, psz + std::char_traits<char16_t>::length(psz));
    for (const char16_t* psz : {u"console", u"com0", u"COM10", u"LPT", u"nul_", u"a.con", u"COM\u2074", u" CON", u""})
        EXPECT_FALSE(IsDeviceName(psz)) << std::string(psz, psz + std::char_traits<char16_t>::length(psz));
}

TEST(PackageName, NamesThatStayInTheTemporaryFolder)
{
    for (const char16_t* psz : {u"core.zip", u" spaced name.zip ", u"sub\\p02.zip", u"sub/p02.zip", u".\\x.zip",
             u"a..b.zip", u"..x.zip", u"x.zip.", u"a\\\\b.zip", u"console.zip", u"com0.zip", u"LPT10.zip"})
        EXPECT_TRUE(IsNameInsideFolder(psz)) << std::string(psz, psz + std::char_traits<char16_t>::length(psz));
}

TEST(PackageName, NamesThatClimbOutNameADriveAStreamOrADeviceAreRefused)
{
    for (const char16_t* psz : {u"..\\x.zip", u"../x.zip", u"..\\Windows\\x.dll", u"a\\..\\..\\x.zip", u"..",
             u"sub\\..", u"...\\x.zip", u".. \\x.zip", u". .\\x.zip", u"C:\\x.zip", u"C:x.zip", u"x.zip:ads",
             u"\\x.zip", u"/x.zip", u"\\\\server\\share\\x.zip", u"NUL", u"nul.zip", u"CON .zip", u"sub\\aux.zip",
             u"COM1.zip", u"lpt9", u"COM\u00B9.zip", u"lpt\u00B3", u"CONIN$.zip", u"sub/conout$", u""})
        EXPECT_FALSE(IsNameInsideFolder(psz)) << std::string(psz, psz + std::char_traits<char16_t>::length(psz));
    EXPECT_FALSE(IsNameInsideFolder(nullptr));
}

} // namespace
