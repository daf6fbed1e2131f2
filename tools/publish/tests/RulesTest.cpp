#include "Rules.h"

#include <gtest/gtest.h>

using namespace publish;

TEST(Sanitise, DropsWhatTheInstallerDropsAndKeepsWhatItsPathBufferHolds)
{
    EXPECT_EQ(SanitiseItemName(u"a/../../x.dll"), u"x.dll");
    EXPECT_EQ(SanitiseItemName(u"sub/a.dll"), u"sub/a.dll");
    EXPECT_EQ(SanitiseItemName(std::u16string(300, u'x')), std::u16string(kMaxPathUnits, u'x'));
}

TEST(PathKey, FoldsCaseAndSeparatorsAsWindowsDoes)
{
    EXPECT_EQ(PathKey(u"Config/Orb.ini"), PathKey(u"config\\ORB.INI"));
    EXPECT_EQ(PathKey(u"\u00e9t\u00e9"), PathKey(u"\u00c9T\u00c9"));
    EXPECT_NE(PathKey(u"a.txt"), PathKey(u"a.txt."));
}

TEST(Manifest, EntriesAreReadWithTheInstallersNumbers)
{
    std::vector<std::u16string> ignored;
    const std::vector<ManifestEntry> entries
        = ParseManifest(u"core.zip;0;1\r\nui.zip;x9;99999999999\r\nbad\r\n", ignored);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].kind, 1);
    EXPECT_EQ(entries[1].value, 0);
    EXPECT_EQ(entries[1].kind, 2147483647);
    EXPECT_EQ(ignored, std::vector<std::u16string> {u"bad"});
}

TEST(PackageName, FitsTheManifestAndTheDownloadUrl)
{
    EXPECT_EQ(CheckPackageName(std::string(27, 'p') + ".zip"), "");
    EXPECT_NE(CheckPackageName(std::string(28, 'p') + ".zip"), "");
    for (const char* bad : {"", "ui/core.zip", "ui\\core.zip", "a;b.zip", "a b.zip", "\xE8\xAF\xB4.zip", "CON",
             "nul.zip", "core.", "a#b.zip", "a%20.zip"})
        EXPECT_NE(CheckPackageName(bad), "") << bad;
    EXPECT_EQ(CheckPackageName("ui-basic_2(1).zip"), "");
}

TEST(InstalledPath, RefusesNamesTheExtractionWouldRewrite)
{
    std::string stored;
    for (const char* bad : {"../x.dll", "a/../x.dll", "/x.dll", "C:x.dll", "a\\b.dll", "a//b.dll", "./a.dll"})
        EXPECT_NE(CheckInstalledPath(bad, stored), "") << bad;
}

TEST(InstalledPath, RefusesNamesWindowsOrTheListsCannotHold)
{
    std::string stored;
    for (const char* bad : {"x.", "dir /a.dll", "aux.txt", "sub/Com1.log", "a?b", "a;b.dll", "a:b", "a\rb", "a|b"})
        EXPECT_NE(CheckInstalledPath(bad, stored), "") << bad;
    EXPECT_EQ(CheckInstalledPath("auxiliary/console.txt", stored), "");
}

TEST(InstalledPath, StoresCodePage936AndRefusesWhatItLacks)
{
    std::string stored;
    ASSERT_EQ(CheckInstalledPath("docs/\xE8\xAF\xB4\xE6\x98\x8E.txt", stored), "");
    EXPECT_EQ(stored, "docs/\xCB\xB5\xC3\xF7.txt");
    EXPECT_NE(CheckInstalledPath("smile\xF0\x9F\x98\x80.txt", stored), "");
    EXPECT_NE(CheckInstalledPath("caf\xC3\xA9\xCC\x81\xE0\xB8\x81.txt", stored), "");
}

TEST(InstalledPath, FitsTheInstallersPathBuffers)
{
    // "C:\Larkspire\" takes 13 of the 259 characters.
    std::string stored;
    EXPECT_EQ(CheckInstalledPath("d/" + std::string(244, 'a'), stored), "");
    EXPECT_NE(CheckInstalledPath("d/" + std::string(245, 'a'), stored), "");
    // Characters, not bytes: 244 Chinese characters take 488 bytes in code page 936.
    std::string chinese;
    for (int i = 0; i < 244; ++i)
        chinese += "\xE8\xAF\xB4";
    EXPECT_EQ(CheckInstalledPath("d/" + chinese, stored), "");
    EXPECT_NE(CheckInstalledPath("d/" + chinese + "\xE8\xAF\xB4", stored), "");
}

namespace {

PackageContent Package(const char* name, int32_t kind, std::vector<InstalledFile> files)
{
    return PackageContent {name, kind, files};
}

} // namespace

TEST(Machines, KindOneGoesEverywhereTwoAndThreeAreAlternatives)
{
    EXPECT_TRUE(InstalledOn(1, kMachines[0]) && InstalledOn(1, kMachines[1]));
    EXPECT_TRUE(InstalledOn(2, kMachines[0]) && !InstalledOn(2, kMachines[1]));
    EXPECT_TRUE(!InstalledOn(3, kMachines[0]) && InstalledOn(3, kMachines[1]));
    EXPECT_TRUE(!InstalledOn(4, kMachines[0]) && !InstalledOn(4, kMachines[1]));
}

TEST(Machines, OverlapsOnlyWherePackagesMeet)
{
    const std::vector<PackageContent> packages = {
        Package("core", 1, {{u"a.dll", 1, 0}, {u"Sub/b.dll", 2, 0}}),
        Package("ui2", 2, {{u"ui/skin", 3, 0}, {u"sub\\B.DLL", 4, 0}}),
        Package("ui3", 3, {{u"ui/skin", 5, 0}}),
        Package("never", 9, {{u"a.dll", 6, 0}}),
    };
    std::vector<Overlap> overlaps;
    const auto withFont = InstallOn(packages, kMachines[0], overlaps);
    ASSERT_EQ(overlaps.size(), 1u);
    EXPECT_EQ(overlaps[0].earlier, 0u);
    EXPECT_EQ(overlaps[0].later, 1u);
    EXPECT_EQ(withFont.at(PathKey(u"sub/b.dll")).crc, 4u);
    EXPECT_EQ(withFont.at(PathKey(u"a.dll")).crc, 1u);
    overlaps.clear();
    const auto withoutFont = InstallOn(packages, kMachines[1], overlaps);
    EXPECT_TRUE(overlaps.empty());
    EXPECT_EQ(withoutFont.at(PathKey(u"ui/skin")).crc, 5u);
}

TEST(Machines, OnlyFilesEqualOnEveryMachineCanBeListed)
{
    const std::vector<PackageContent> packages = {
        Package("core", 1, {{u"a.dll", 1, 0}}),
        Package("ui2", 2, {{u"ui/font.ini", 2, 0}, {u"ui/layout.ini", 3, 0}, {u"ui/only2", 4, 0}}),
        Package("ui3", 3, {{u"ui/font.ini", 5, 0}, {u"UI/Layout.ini", 3, 0}}),
        Package("never", 0, {{u"x.dll", 6, 0}}),
    };
    std::vector<InstalledFile> differing;
    const auto common = FilesOnEveryMachine(packages, differing);
    ASSERT_EQ(common.size(), 2u);
    EXPECT_EQ(common[0].path, u"a.dll");
    EXPECT_EQ(PathKey(common[1].path), PathKey(u"ui/layout.ini"));
    ASSERT_EQ(differing.size(), 2u);
    EXPECT_EQ(differing[0].path, u"ui/font.ini");
    EXPECT_EQ(differing[1].path, u"ui/only2");
}
