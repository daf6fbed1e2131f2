#include "Check.h"
#include "Publish.h"
#include "TestTree.h"
#include "core/rules/Text.h"
#include "Zip.h"

#include <algorithm>

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

using namespace publish;

namespace {

// Bytes whose CRC-32 is 0.
const std::string kCrcZero("crc zero 0r]\x8c", 13);

std::u16string CrcLine(const std::u16string& name, const std::string& content)
{
    const std::string crc = std::to_string(Crc32(content));
    return name + u";" + std::u16string(crc.begin(), crc.end());
}

class Release : public testing::Test {
protected:
    void SetUp() override
    {
        m_tree.Write("src/UnInstall.exe", "MZ uninstaller");
        m_tree.Write("src/core/iQorRemote.exe", "MZ client");
        m_tree.Write("src/core/config/ORB.System.config", "[Server]\r\nAddress=127.0.0.1\r\n");
        m_tree.Write("src/core/docs/\xE8\xAF\xB4\xE6\x98\x8E.txt", "readme");
        m_tree.Write("src/ui2/ui/font.ini", "Face=A\r\n");
        m_tree.Write("src/ui2/ui/layout.ini", "same\r\n");
        m_tree.Write("src/ui3/ui/font.ini", "Face=B\r\n");
        m_tree.Write("src/ui3/ui/layout.ini", "same\r\n");
    }

    std::string Description(const std::string& extra = "") const
    {
        return "uninstaller src/UnInstall.exe\n"
               "package core.zip 1\n  folder src/core\n"
               "package ui2.zip 2\n  folder src/ui2\n"
               "package ui3.zip 3 17\n  folder src/ui3\n"
            + extra;
    }

    // Parses, plans and writes; the diagnostics stay in m_diagnostics.
    bool Publish(const std::string& description, const std::string& output = "out", bool keepReadOnly = false)
    {
        m_diagnostics = Diagnostics();
        ReleaseDescription parsed;
        parsed.keepReadOnly = keepReadOnly;
        ReleasePlan plan;
        return ParseDescription(description, "release.txt", m_tree.Root(), {}, parsed, m_diagnostics.errors)
            && PlanRelease(parsed, plan, m_diagnostics) && WriteRelease(plan, m_tree.Path(output), m_diagnostics);
    }

    bool Check(const std::string& folder = "out")
    {
        m_diagnostics = Diagnostics();
        std::string error;
        auto source = OpenReleaseSource(m_tree.Path(folder), error);
        return source && CheckRelease(*source, m_diagnostics);
    }

    bool HasError(const std::string& part) const
    {
        return std::any_of(m_diagnostics.errors.begin(), m_diagnostics.errors.end(),
            [&](const std::string& e) { return e.find(part) != std::string::npos; });
    }

    std::string Errors() const
    {
        std::string all;
        for (const std::string& e : m_diagnostics.errors)
            all += e + "\n";
        return all;
    }

    std::vector<std::string> Siblings() const
    {
        std::vector<std::string> files;
        std::string error;
        ListFiles(m_tree.Root(), files, error);
        files.erase(std::remove_if(
                        files.begin(), files.end(), [](const std::string& f) { return f.compare(0, 4, "src/") == 0; }),
            files.end());
        return files;
    }

    TestTree m_tree;
    Diagnostics m_diagnostics;
};

} // namespace

TEST_F(Release, PublishesWhatTheInstallerReads)
{
    ASSERT_TRUE(Publish(Description())) << Errors();
    EXPECT_EQ(Siblings(),
        (std::vector<std::string> {
            "out/UnInstall.exe", "out/core.zip", "out/filecrc.txt", "out/orbsetup.txt", "out/ui2.zip", "out/ui3.zip"}));
    EXPECT_EQ(m_tree.Read("out/orbsetup.txt"), EncodeServedText({u"core.zip;0;1", u"ui2.zip;0;2", u"ui3.zip;17;3"}));
    // The font file differs between the two kinds of machine, so the list cannot name it.
    EXPECT_EQ(m_tree.Read("out/filecrc.txt"),
        EncodeServedText({CrcLine(u"config\\ORB.System.config", "[Server]\r\nAddress=127.0.0.1\r\n"),
            CrcLine(u"docs\\\u8bf4\u660e.txt", "readme"), CrcLine(u"iQorRemote.exe", "MZ client"),
            CrcLine(u"ui\\layout.ini", "same\r\n")}));
    EXPECT_EQ(m_tree.Read("out/UnInstall.exe"), "MZ uninstaller");
    std::vector<ZipItem> items;
    std::string error;
    ASSERT_TRUE(ReadZip(m_tree.Read("out/core.zip"), items, error)) << error;
    std::vector<std::string> names;
    for (const ZipItem& item : items)
        names.push_back(item.storedName);
    EXPECT_EQ(
        names, (std::vector<std::string> {"config/ORB.System.config", "docs/\xCB\xB5\xC3\xF7.txt", "iQorRemote.exe"}));
    EXPECT_TRUE(Check()) << Errors();
}

TEST_F(Release, ReadOnlyFilesArePublishedWritableUnlessKept)
{
    ASSERT_EQ(0, chmod(m_tree.Path("src/core/iQorRemote.exe").c_str(), 0444));
    for (bool keep : {false, true}) {
        ASSERT_TRUE(Publish(Description(), "out", keep)) << Errors();
        std::vector<ZipItem> items;
        std::string error;
        ASSERT_TRUE(ReadZip(m_tree.Read("out/core.zip"), items, error)) << error;
        for (const ZipItem& item : items) {
            const bool readOnly = (item.externalAttributes & 0x01) != 0;
            EXPECT_EQ(keep && item.storedName == "iQorRemote.exe", readOnly) << item.storedName << " kept " << keep;
        }
        const bool warned
            = std::any_of(m_diagnostics.warnings.begin(), m_diagnostics.warnings.end(), [](const std::string& warning) {
                  return warning.find("is read-only; published writable") != std::string::npos;
              });
        EXPECT_EQ(!keep, warned);
        EXPECT_TRUE(Check()) << Errors();
    }
    chmod(m_tree.Path("src/core/iQorRemote.exe").c_str(), 0644);
}

TEST_F(Release, ReplacesThePreviousReleaseWhole)
{
    m_tree.Write("out/stale.zip", "old");
    ASSERT_TRUE(Publish(Description())) << Errors();
    EXPECT_FALSE(PathExists(m_tree.Path("out/stale.zip")));
    EXPECT_EQ(Siblings().size(), 6u) << "no temporary folder is left beside the release";
}

TEST_F(Release, RefusalLeavesThePreviousReleaseAlone)
{
    ASSERT_TRUE(Publish(Description()));
    const std::string before = m_tree.Read("out/core.zip");
    m_tree.Write("src/core/empty.txt", "");
    EXPECT_FALSE(Publish(Description()));
    EXPECT_TRUE(HasError("empty.txt")) << Errors();
    EXPECT_EQ(m_tree.Read("out/core.zip"), before);
    EXPECT_EQ(Siblings().size(), 6u);
}

TEST_F(Release, FailedWriteLeavesThePreviousReleaseAlone)
{
    ASSERT_TRUE(Publish(Description()));
    const std::vector<std::string> before = Siblings();
    // The uninstaller vanishes after planning: the write fails half-way, after the packages.
    ReleaseDescription parsed;
    ReleasePlan plan;
    ASSERT_TRUE(ParseDescription(Description(), "release.txt", m_tree.Root(), {}, parsed, m_diagnostics.errors));
    ASSERT_TRUE(PlanRelease(parsed, plan, m_diagnostics));
    RemoveTree(m_tree.Path("src/UnInstall.exe"));
    m_tree.Write("src/core/iQorRemote.exe", "MZ client, rebuilt");
    EXPECT_FALSE(WriteRelease(plan, m_tree.Path("out"), m_diagnostics));
    EXPECT_EQ(Siblings(), before);
}

TEST_F(Release, RefusesFilesTheInstallerCannotVerify)
{
    m_tree.Write("src/core/zero.bin", kCrcZero);
    m_tree.Write("src/core/nothing.txt", "");
    EXPECT_FALSE(Publish(Description()));
    EXPECT_TRUE(HasError("zero.bin")) << Errors();
    EXPECT_TRUE(HasError("nothing.txt")) << Errors();
    EXPECT_FALSE(PathExists(m_tree.Path("out")));
}

TEST_F(Release, RefusesOnePathFromPackagesInstalledTogether)
{
    m_tree.Write("src/extra/iqorremote.EXE", "other client");
    m_tree.Write("src/extra2/ui/font.ini", "Face=C\r\n");
    EXPECT_FALSE(Publish(Description("package extra.zip 1\n  folder src/extra\n"
                                     "package extra2.zip 2\n  folder src/extra2\n")));
    EXPECT_TRUE(HasError("core.zip (kind 1) and extra.zip (kind 1)")) << Errors();
    EXPECT_TRUE(HasError("ui2.zip (kind 2) and extra2.zip (kind 2)")) << Errors();
    EXPECT_FALSE(HasError("ui3.zip")) << "kinds 2 and 3 never meet";
}

TEST_F(Release, RefusesKindOneAlongsideEitherAlternative)
{
    m_tree.Write("src/base/ui/font.ini", "Face=base\r\n");
    EXPECT_FALSE(Publish(Description("package base.zip 1\n  folder src/base\n")));
    EXPECT_TRUE(HasError("ui2.zip (kind 2) and base.zip (kind 1)")) << Errors();
    EXPECT_TRUE(HasError("ui3.zip (kind 3) and base.zip (kind 1)")) << Errors();
}

TEST_F(Release, RefusesBadNamesAndNamesTheCulprit)
{
    m_tree.Write("src/bad/a\xE0\xB8\x81.txt", "thai");
    m_tree.Write("src/bad/UnInstall.exe", "fake");
    EXPECT_FALSE(Publish(Description("package a-very-long-package-name-001.zip 1\n"
                                     "package bad.zip 1\n  folder src/bad\n"
                                     "package CORE.ZIP 2\n"
                                     "package filecrc.txt 1\n"
                                     "package odd.zip 1\n  file src/core/iQorRemote.exe ../up.exe\n")));
    EXPECT_TRUE(HasError("a-very-long-package-name-001.zip")) << Errors();
    EXPECT_TRUE(HasError("code page 936")) << Errors();
    EXPECT_TRUE(HasError("bad.zip: UnInstall.exe")) << Errors();
    EXPECT_TRUE(HasError("\"CORE.ZIP\"")) << Errors();
    EXPECT_TRUE(HasError("\"filecrc.txt\"")) << Errors();
    EXPECT_TRUE(HasError("../up.exe")) << Errors();
}

TEST_F(Release, UnknownKindsAreOnlyWarnedAbout)
{
    m_tree.Write("src/later/iQorRemote.exe", "future client");
    ASSERT_TRUE(Publish(Description("package later.zip 4\n  folder src/later\n"))) << Errors();
    ASSERT_EQ(m_diagnostics.warnings.size(), 1u);
    EXPECT_NE(m_diagnostics.warnings[0].find("later.zip"), std::string::npos);
    EXPECT_NE(m_tree.Read("out/orbsetup.txt").find(std::string("4\0\r\0\n\0", 6)), std::string::npos);
    EXPECT_TRUE(Check()) << Errors();
}

TEST_F(Release, CheckFindsWhatWouldBreakAnInstallation)
{
    ASSERT_TRUE(Publish(Description()));
    m_tree.Write("out/filecrc.txt", EncodeServedText({u"iQorRemote.exe;1", CrcLine(u"ui\\font.ini", "Face=A\r\n")}));
    EXPECT_FALSE(Check());
    EXPECT_TRUE(
        HasError("iQorRemote.exe has the CRC " + std::to_string(Crc32("MZ client")) + " on a machine with kinds 1+2"))
        << Errors();
    EXPECT_TRUE(
        HasError("iQorRemote.exe has the CRC " + std::to_string(Crc32("MZ client")) + " on a machine with kinds 1+3"))
        << Errors();
    EXPECT_TRUE(
        HasError("ui\\font.ini has the CRC " + std::to_string(Crc32("Face=B\r\n")) + " on a machine with kinds 1+3"))
        << Errors();
    EXPECT_EQ(m_diagnostics.errors.size(), 3u) << Errors();

    ASSERT_TRUE(Publish(Description()));
    m_tree.Write("out/ui3.zip", "PK garbage");
    RemoveTree(m_tree.Path("out/UnInstall.exe"));
    EXPECT_FALSE(Check());
    EXPECT_TRUE(HasError("ui3.zip: not a readable zip")) << Errors();
    EXPECT_TRUE(HasError("UnInstall.exe is missing")) << Errors();
    EXPECT_TRUE(HasError("ui\\layout.ini is not installed on a machine with kinds 1+3")) << Errors();
}

TEST_F(Release, CheckReadsTheManifestByTheInstallersRules)
{
    ASSERT_TRUE(Publish(Description()));
    std::string lfOnly = "\xFF\xFE";
    for (char c : std::string("core.zip;0;1\nui2.zip;0;2\n"))
        lfOnly += std::string(1, c) + '\0';
    m_tree.Write("out/orbsetup.txt", lfOnly);
    EXPECT_FALSE(Check());
    EXPECT_TRUE(HasError("no entry")) << Errors();

    m_tree.Write("out/orbsetup.txt", "\xFF\xFE");
    EXPECT_FALSE(Check());
    EXPECT_TRUE(HasError("2 bytes")) << Errors();
}

TEST_F(Release, CheckRefusesItemsTheExtractionWouldMove)
{
    ASSERT_TRUE(Publish(Description()));
    ZipWriter writer;
    std::string archive, error;
    ASSERT_TRUE(writer.Add("../evil.dll", "x", 1765200000, ZIP_ATTRIBUTE_ARCHIVE, error));
    ASSERT_TRUE(writer.Finish(archive, error));
    m_tree.Write("out/ui2.zip", archive);
    EXPECT_FALSE(Check());
    EXPECT_TRUE(HasError("ui2.zip: ../evil.dll would be extracted as \"evil.dll\"")) << Errors();
}
