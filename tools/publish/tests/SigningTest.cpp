#include "Check.h"
#include "Signing.h"
#include "TestTree.h"

using namespace publish;

// The signed list's text and the checks made through it; keys and signatures are tested against the
// openssl command line in test_cli.py.

namespace {

const std::string kAbcSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Digest(const std::string& data)
{
    std::string digest, error;
    EXPECT_TRUE(Sha256(data, digest, error)) << error;
    return digest;
}

TEST(ReleaseList, SortedByNameBytesAndReadBackAsWritten)
{
    EXPECT_EQ(LowerHex(Digest("abc")), kAbcSha256);
    const std::string text = ReleaseListFile({{"core.zip", Digest("core"), 4}, {"UnInstall.exe", Digest("abc"), 3}});
    EXPECT_EQ(text, kAbcSha256 + "  3  UnInstall.exe\n" + LowerHex(Digest("core")) + "  4  core.zip\n");
    std::vector<ListedFile> read;
    std::string error;
    ASSERT_TRUE(ParseReleaseList(text, read, error)) << error;
    EXPECT_EQ(read[1].digest, Digest("core"));
    for (const std::string& bad : {text.substr(1), text.substr(0, text.size() - 1), "\xEF\xBB\xBF" + text,
             text.substr(83) + text.substr(0, 83), text.substr(0, 83) + "\n"})
        EXPECT_FALSE(ParseReleaseList(bad, read, error)) << bad;
}

TEST(SignedSource, RefusesEveryFileThatDiffersFromItsLine)
{
    TestTree tree;
    tree.Write("good.zip", "good");
    tree.Write("resized.zip", "longer");
    tree.Write("changed.zip", "chang3d");
    tree.Write("extra.zip", "x");
    std::string error;
    std::unique_ptr<ReleaseSource> folder = OpenReleaseSource(tree.Root(), error);
    SignedSource source(*folder,
        {{"changed.zip", Digest("changed"), 7}, {"good.zip", Digest("good"), 4}, {"resized.zip", Digest("long"), 4},
            {"unread.zip", Digest("unread"), 6}});
    std::string bytes;
    bool missing = false;
    const std::vector<std::pair<std::string, std::string>> expected
        = {{"good.zip", ""}, {"resized.zip", "6 bytes, release.sha256 lists 4"},
            {"changed.zip", "hash mismatch with release.sha256"}, {"extra.zip", "not listed in release.sha256"}};
    for (const auto& file : expected) {
        error.clear();
        EXPECT_EQ(source.Fetch(file.first, bytes, missing, error), file.second.empty()) << file.first;
        EXPECT_EQ(error, file.second);
    }
    Diagnostics diagnostics;
    source.CheckUnfetched(diagnostics);
    EXPECT_EQ(diagnostics.errors, std::vector<std::string> {"unread.zip is missing"});
}

} // namespace
