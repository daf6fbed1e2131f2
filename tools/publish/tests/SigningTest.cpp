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

// A line of the list for bytes, as the publisher writes it.
ReleaseLine Listed(const std::string& name, const std::string& data, int64_t size)
{
    ReleaseLine line = {{}, size, name};
    const std::string digest = Digest(data);
    std::copy(digest.begin(), digest.end(), line.digest);
    return line;
}

// The list's format is the shared one (tests/rules); here, the words the publisher gives it.
TEST(ReleaseList, ReadAndDescribedInThePublishersWords)
{
    EXPECT_EQ(LowerHex(Digest("abc")), kAbcSha256);
    const std::string zeros(64, '0');
    const std::string core = LowerHex(Digest("core")) + "  4  core.zip\n";
    ReleaseList read;
    std::string error;
    ASSERT_TRUE(ReadReleaseList(zeros + "  5  :later\n" + zeros + "  3  :serial\n" + core, read, error)) << error;
    EXPECT_EQ(read.vecFiles.size(), 1u);
    EXPECT_EQ(DescribeTerms(read.terms), "serial 3, no expiry");
    ASSERT_TRUE(ReadReleaseList(FormatReleaseList({{Listed("core.zip", "core", 4)}, {7, 1798761600}}), read, error));
    EXPECT_EQ(DescribeTerms(read.terms), "serial 7, expires 2027-01-01 00:00:00 UTC");
    ASSERT_TRUE(ReadReleaseList(core, read, error));
    EXPECT_EQ(DescribeTerms(read.terms), "no serial, no expiry");
    const std::string digest = LowerHex(Digest("x"));
    for (const auto& bad : std::vector<std::pair<std::string, std::string>> {
             {"\xEF\xBB\xBF" + core, "has a byte-order mark, no line, or no LF at its end"},
             {core.substr(0, core.size() - 1), "has a byte-order mark, no line, or no LF at its end"},
             {core.substr(1), "line 1: not \"<64 lowercase hex>  <size>  <name>\""},
             {digest + "  x  a\n", "line 1: not \"<64 lowercase hex>  <size>  <name>\""},
             {digest + "  1  \n", "line 1: no name, or a control character in it"},
             {digest + "  7  :serial\n" + core, "line 1: :serial has a digest other than 64 zeros"},
             {zeros + "  1  :expires\n" + zeros + "  0  :serial\n" + core,
                 "line 2: the serial is 0; serials start at 1"},
             {zeros + "  7  :serial\n" + zeros + "  9  :expires\n" + core,
                 "line 2: names are not in increasing byte order"}}) {
        EXPECT_FALSE(ReadReleaseList(bad.first, read, error)) << bad.first;
        EXPECT_EQ(error, "release.sha256 " + bad.second);
    }
}

TEST(SignedSource, OpensUntilTheListExpires)
{
    TestTree tree;
    std::string point, signature, error;
    ASSERT_TRUE(ParsePublicKey(kStampedPoint, point, error));
    uint8_t raw[P256_SIGNATURE_BYTES];
    ASSERT_TRUE(ParseLowerHex(kStampedSignature.data(), kStampedSignature.size(), raw, sizeof(raw)));
    signature.assign(reinterpret_cast<const char*>(raw), sizeof(raw));
    tree.Write(RELEASE_LIST_NAME, FormatReleaseList({{Listed("a.zip", "a", 1)}, {7, kStampedExpiry}}));
    tree.Write(RELEASE_SIGNATURE_NAME, signature);
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
        {{Listed("changed.zip", "changed", 7), Listed("good.zip", "good", 4), Listed("resized.zip", "long", 4),
             Listed("unread.zip", "unread", 6)},
            {}});
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
