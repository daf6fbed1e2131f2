#include "Description.h"

#include <gtest/gtest.h>

using namespace publish;

namespace {

ReleaseDescription Parse(
    const std::string& text, std::vector<std::string>& errors, const std::map<std::string, std::string>& overrides = {})
{
    ReleaseDescription release;
    ParseDescription(text, "release.txt", "/src", overrides, release, errors);
    return release;
}

} // namespace

TEST(Description, ReadsPackagesSourcesAndVariables)
{
    std::vector<std::string> errors;
    const ReleaseDescription release = Parse("\xEF\xBB\xBF# sample\r\n"
                                             "set BIN out/bin\r\n"
                                             "uninstaller ${BIN}/UnInstall.exe\n"
                                             "package core.zip 1\n"
                                             "  folder core\n"
                                             "  file ${BIN}/iQorRemote.exe\n"
                                             "  file \"my files/a b.txt\" docs/ab.txt\n"
                                             "package ui.zip 2 -5\n"
                                             "  folder /abs/ui ui/\n",
        errors);
    ASSERT_TRUE(errors.empty()) << errors[0];
    EXPECT_EQ(release.uninstaller, "/src/out/bin/UnInstall.exe");
    ASSERT_EQ(release.packages.size(), 2u);
    const PackageDescription& core = release.packages[0];
    EXPECT_EQ(core.name, "core.zip");
    EXPECT_EQ(core.kind, 1);
    EXPECT_EQ(core.value, 0);
    ASSERT_EQ(core.sources.size(), 3u);
    EXPECT_TRUE(core.sources[0].isFolder);
    EXPECT_EQ(core.sources[0].source, "/src/core");
    EXPECT_EQ(core.sources[0].destination, "");
    EXPECT_EQ(core.sources[1].source, "/src/out/bin/iQorRemote.exe");
    EXPECT_EQ(core.sources[1].destination, "iQorRemote.exe");
    EXPECT_EQ(core.sources[2].source, "/src/my files/a b.txt");
    EXPECT_EQ(core.sources[2].destination, "docs/ab.txt");
    EXPECT_EQ(release.packages[1].value, -5);
    EXPECT_EQ(release.packages[1].sources[0].source, "/abs/ui");
    EXPECT_EQ(release.packages[1].sources[0].destination, "ui");
}

TEST(Description, CommandLineVariablesWin)
{
    std::vector<std::string> errors;
    const ReleaseDescription release
        = Parse("set BIN here\nuninstaller ${BIN}/u.exe\npackage a.zip 1\n", errors, {{"BIN", "/there"}});
    ASSERT_TRUE(errors.empty());
    EXPECT_EQ(release.uninstaller, "/there/u.exe");
}

TEST(Description, NamesTheLineOfEachMistake)
{
    std::vector<std::string> errors;
    Parse("folder x\n"
          "package a.zip one\n"
          "package b.zip 99999999999\n"
          "file ${NOPE}/x\n"
          "frobnicate\n"
          "file \"open\n"
          "package c.zip\n",
        errors);
    ASSERT_EQ(errors.size(), 8u);
    EXPECT_NE(errors[0].find("release.txt:1:"), std::string::npos);
    EXPECT_NE(errors[1].find("release.txt:2:"), std::string::npos);
    EXPECT_NE(errors[1].find("one"), std::string::npos);
    EXPECT_NE(errors[2].find("release.txt:3:"), std::string::npos);
    EXPECT_NE(errors[3].find("${NOPE}"), std::string::npos);
    EXPECT_NE(errors[4].find("frobnicate"), std::string::npos);
    EXPECT_NE(errors[5].find("release.txt:6:"), std::string::npos);
    EXPECT_NE(errors[6].find("release.txt:7:"), std::string::npos);
    EXPECT_NE(errors[7].find("uninstaller"), std::string::npos);
}
