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

// A list with a serial and an expiry, signed once by a throwaway key with the openssl command line.
const std::string kStampedPoint = "041fd92b69337d74f13745e73bb8367ab583405ce89a8bc1123a867801ae638d01dfa57065f42e057e0a"
                                  "22e57400ebbb1491f75472750b08a46f03bc69b8b958d8";
const std::string kStampedSignature = "566a51c1cf1790032e1c4cd73aea44b1b4fe840f84b3b5adfe9c4ac8681eaead2df15d37b9ed1c"
                                      "5d5f14bfcfdc009630631516bfe135d6069e4038f813f99ac9";
constexpr int64_t kStampedExpiry = 1798761600; // 2027-01-01 00:00:00 UTC

TEST(ReleaseList, SortedByNameBytesAndReadBackAsWritten)
{
    EXPECT_EQ(LowerHex(Digest("abc")), kAbcSha256);
    const std::string text
        = ReleaseListFile({{{"core.zip", Digest("core"), 4}, {"UnInstall.exe", Digest("abc"), 3}}, {}});
    EXPECT_EQ(text, kAbcSha256 + "  3  UnInstall.exe\n" + LowerHex(Digest("core")) + "  4  core.zip\n");
    ReleaseList read;
    std::string error;
    ASSERT_TRUE(ParseReleaseList(text, read, error)) << error;
    EXPECT_EQ(read.files[1].digest, Digest("core"));
    EXPECT_EQ(DescribeStamp(read.stamp), "no serial, no expiry");
    for (const std::string& bad : {text.substr(1), text.substr(0, text.size() - 1), "\xEF\xBB\xBF" + text,
             text.substr(83) + text.substr(0, 83), text.substr(0, 83) + "\n"})
        EXPECT_FALSE(ParseReleaseList(bad, read, error)) << bad;
}

TEST(ReleaseList, SerialAndExpiryAreZeroDigestLinesAmongTheFiles)
{
    const std::string zeros(64, '0');
    const std::string core = LowerHex(Digest("core")) + "  4  core.zip\n";
    const std::string text
        = ReleaseListFile({{{"core.zip", Digest("core"), 4}, {"A.zip", Digest("A"), 1}, {"1.zip", Digest("1"), 1}},
            {7, true, 1798761600}});
    EXPECT_EQ(text,
        LowerHex(Digest("1")) + "  1  1.zip\n" + zeros + "  1798761600  :expires\n" + zeros + "  7  :serial\n"
            + LowerHex(Digest("A")) + "  1  A.zip\n" + core);
    ReleaseList read;
    std::string error;
    ASSERT_TRUE(ParseReleaseList(text, read, error)) << error;
    EXPECT_EQ(read.files.size(), 3u);
    EXPECT_EQ(DescribeStamp(read.stamp), "serial 7, expires 2027-01-01 00:00:00 UTC");
    EXPECT_EQ(ReleaseListFile(read), text);

    ASSERT_TRUE(ParseReleaseList(zeros + "  5  :later\n" + zeros + "  3  :serial\n" + core, read, error)) << error;
    EXPECT_EQ(read.files.size(), 1u);
    EXPECT_EQ(DescribeStamp(read.stamp), "serial 3, no expiry");
    const std::string digest = LowerHex(Digest("x"));
    for (const auto& bad : std::vector<std::pair<std::string, std::string>> {
             {digest + "  7  :serial\n" + core, "line 1: :serial has a digest other than 64 zeros"},
             {digest + "  9  :later\n" + core, "line 1: :later has a digest other than 64 zeros"},
             {zeros + "  1  :expires\n" + zeros + "  0  :serial\n" + core,
                 "line 2: the serial is 0; serials start at 1"},
             {zeros + "  7  :serial\n" + zeros + "  9  :expires\n" + core,
                 "line 2: names are not in increasing byte order"}}) {
        EXPECT_FALSE(ParseReleaseList(bad.first, read, error)) << bad.first;
        EXPECT_EQ(error, "release.sha256 " + bad.second);
    }
}

TEST(ReleaseList, TimesAreUtcCalendarText)
{
    for (const auto& time : std::vector<std::pair<int64_t, std::string>> {{0, "1970-01-01 00:00:00 UTC"},
             {-1, "1969-12-31 23:59:59 UTC"}, {951782400, "2000-02-29 00:00:00 UTC"},
             {1709251199, "2024-02-29 23:59:59 UTC"}, {4107542400, "2100-03-01 00:00:00 UTC"}})
        EXPECT_EQ(UtcTimeText(time.first), time.second) << time.first;
}

TEST(SignedSource, OpensUntilTheListExpires)
{
    TestTree tree;
    std::string point, signature, error;
    ASSERT_TRUE(ParsePublicKey(kStampedPoint, point, error));
    ASSERT_TRUE(ParseLowerHex(kStampedSignature, kSignatureBytes, signature));
    tree.Write(kReleaseList, ReleaseListFile({{{"a.zip", Digest("a"), 1}}, {7, true, kStampedExpiry}}));
    tree.Write(kReleaseSignature, signature);
    tree.Write("a.zip", "a");
    std::unique_ptr<ReleaseSource> folder = OpenReleaseSource(tree.Root(), error);
    for (const int64_t now : {kStampedExpiry - 1, kStampedExpiry}) {
        Diagnostics diagnostics;
        std::unique_ptr<SignedSource> source = OpenSignedSource(*folder, point, now, diagnostics);
        ASSERT_EQ(diagnostics.notes.size(), 2u) << (diagnostics.errors.empty() ? "" : diagnostics.errors[0]);
        EXPECT_EQ(diagnostics.notes[1], "release.sha256: serial 7, expires 2027-01-01 00:00:00 UTC");
        EXPECT_EQ(source != nullptr, now < kStampedExpiry);
        if (source)
            source->CheckUnfetched(diagnostics); // with nothing to fetch for the serial and expiry lines
        else
            EXPECT_EQ(diagnostics.errors.at(0),
                "release.sha256 expired at 2027-01-01 00:00:00 UTC (this machine's "
                "clock says 2027-01-01 00:00:00 UTC); the installer refuses it");
        EXPECT_EQ(diagnostics.errors.size(), source ? 0u : 1u);
    }
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
    const std::vector<std::pair<std::string, std::string>> expected
        = {{"good.zip", ""}, {"resized.zip", "6 bytes, release.sha256 lists 4"},
            {"changed.zip", "hash mismatch with release.sha256"}, {"extra.zip", "not listed in release.sha256"}};
    for (const auto& file : expected) {
        error.clear();
        EXPECT_EQ(source.Fetch(file.first, 1 << 20, bytes, error) == FetchResult::Fetched, file.second.empty())
            << file.first;
        EXPECT_EQ(error, file.second);
    }
    Diagnostics diagnostics;
    source.CheckUnfetched(diagnostics);
    EXPECT_EQ(diagnostics.errors, std::vector<std::string> {"unread.zip is missing"});
}

} // namespace
