#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/rules/ReleaseList.h"

// release.sha256 as the publisher writes it and the installer reads it.

namespace {

const std::string HASH_A(64, 'a');
const std::string ZERO_HASH(64, '0');
const std::string ABC_SHA256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Line(const std::string& strHash, const std::string& strSize, const std::string& strName)
{
    return strHash + "  " + strSize + "  " + strName + "\n";
}

bool Parse(const std::string& strText, ReleaseList& list, ReleaseListError& error)
{
    return ParseReleaseList(reinterpret_cast<const uint8_t*>(strText.data()), strText.size(), list, error);
}

ReleaseLine FileLine(const std::string& strHex, int64_t nSize, const std::string& strName)
{
    ReleaseLine line = {{}, nSize, strName};
    EXPECT_TRUE(ParseLowerHex(strHex.data(), strHex.size(), line.digest, SHA256_DIGEST_BYTES));
    return line;
}

TEST(ReleaseList, ReadsHashSizeAndNameInByteOrder)
{
    ReleaseList list;
    ReleaseListError error;
    ASSERT_TRUE(Parse(Line(ABC_SHA256, "3", "UnInstall.exe") + Line(HASH_A, "1024", "core pack.zip")
            + Line(HASH_A, "0", "\xE4\xB8\xAD.zip"),
        list, error));
    ASSERT_EQ(3u, list.vecFiles.size());
    EXPECT_EQ(0xBA, list.vecFiles[0].digest[0]);
    EXPECT_EQ(0xAD, list.vecFiles[0].digest[31]);
    EXPECT_EQ(1024, list.vecFiles[1].nSize);
    EXPECT_EQ(&list.vecFiles[1], FindReleaseLine(list, "core pack.zip")) << "blanks belong to the name";
    EXPECT_EQ(&list.vecFiles[2], FindReleaseLine(list, "\xE4\xB8\xAD.zip"));
    EXPECT_EQ(nullptr, FindReleaseLine(list, "core"));
}

TEST(ReleaseList, EachMalformationIsNamedWithItsLine)
{
    const std::string strGood = Line(HASH_A, "1", "a.zip");
    using P = ReleaseListProblem;
    const std::pair<std::string, std::pair<P, unsigned>> cases[] = {
        {std::string(), {P::NO_FINAL_LINE_FEED, 0}},
        {"\xEF\xBB\xBF" + strGood, {P::BYTE_ORDER_MARK, 0}},
        {strGood.substr(0, strGood.size() - 1), {P::NO_FINAL_LINE_FEED, 0}},
        {HASH_A + "  1  a.zip\r\n", {P::NO_NAME, 1}},
        {std::string(64, 'A') + "  1  a.zip\n", {P::NO_DIGEST, 1}},
        {HASH_A.substr(1) + "  1  a.zip\n", {P::NO_DIGEST, 1}},
        {HASH_A + " 1  a.zip\n", {P::NO_DIGEST, 1}},
        {HASH_A + "  +1  a.zip\n", {P::NO_SIZE, 1}},
        {HASH_A + "  1x  a.zip\n", {P::NO_SIZE, 1}},
        {HASH_A + "  1234567890123456789  a.zip\n", {P::NO_SIZE, 1}},
        {HASH_A + "  1  \n", {P::NO_NAME, 1}},
        {HASH_A + "  1  a\tb\n", {P::NO_NAME, 1}},
        {strGood + "\n", {P::NO_DIGEST, 2}},
        {Line(HASH_A, "1", "b.zip") + strGood, {P::NAME_ORDER, 2}},
        {strGood + strGood, {P::NAME_ORDER, 2}},
    };
    for (const auto& c : cases) {
        ReleaseList list;
        ReleaseListError error;
        EXPECT_FALSE(Parse(c.first, list, error)) << c.first;
        EXPECT_EQ(c.second.first, error.problem) << c.first;
        EXPECT_EQ(c.second.second, error.nLine) << c.first;
        EXPECT_TRUE(list.vecFiles.empty()) << "nothing of a malformed list is kept";
    }
}

TEST(ReleaseList, TermsAreLinesOfTheirOwnThatNameNoFile)
{
    ReleaseList list;
    ReleaseListError error;
    // ':' sorts after digits and before letters; the terms take part in the order like any name.
    ASSERT_TRUE(Parse(Line(HASH_A, "1", "1.zip") + Line(ZERO_HASH, "1798761600", ":expires")
            + Line(ZERO_HASH, "0", ":later-term") + Line(ZERO_HASH, "42", ":serial") + Line(HASH_A, "2", "A.zip")
            + Line(ABC_SHA256, "3", "core.zip"),
        list, error));
    EXPECT_EQ(42, list.terms.nSerial);
    EXPECT_EQ(1798761600, list.terms.llExpires);
    ASSERT_EQ(3u, list.vecFiles.size()) << "terms are no files, and one not known here is passed over";
    EXPECT_EQ(nullptr, FindReleaseLine(list, ":serial"));
    EXPECT_EQ(&list.vecFiles[1], FindReleaseLine(list, "A.zip"));
    EXPECT_EQ("serial 42", DescribeSerial(list.terms));
    EXPECT_EQ("expires 2027-01-01 00:00:00 UTC", DescribeExpiry(list.terms));

    // A list from before the terms: serial 0, no expiry.
    ASSERT_TRUE(Parse(Line(HASH_A, "1", "a.zip"), list, error));
    EXPECT_EQ(0, list.terms.nSerial);
    EXPECT_EQ(-1, list.terms.llExpires);
    EXPECT_EQ("no serial", DescribeSerial(list.terms));
    EXPECT_EQ("no expiry", DescribeExpiry(list.terms));

    using P = ReleaseListProblem;
    const std::pair<std::string, std::pair<P, unsigned>> malformed[] = {
        {Line(HASH_A, "42", ":serial"), {P::TERM_DIGEST, 1}},
        {Line(HASH_A, "9", ":later"), {P::TERM_DIGEST, 1}},
        {Line(ZERO_HASH, "1", ":expires") + Line(ZERO_HASH, "0", ":serial"), {P::SERIAL_ZERO, 2}},
        {Line(ZERO_HASH, "7", ":serial") + Line(ZERO_HASH, "1", ":expires"), {P::NAME_ORDER, 2}},
        {Line(ZERO_HASH, "7", ":serial") + Line(ZERO_HASH, "8", ":serial"), {P::NAME_ORDER, 2}},
        {Line(HASH_A, "1", "a.zip") + Line(ZERO_HASH, "7", ":serial"), {P::NAME_ORDER, 2}},
    };
    for (const auto& c : malformed) {
        EXPECT_FALSE(Parse(c.first, list, error)) << c.first;
        EXPECT_EQ(c.second.first, error.problem) << c.first;
        EXPECT_EQ(c.second.second, error.nLine) << c.first;
    }
    EXPECT_EQ(":later", (Parse(Line(HASH_A, "9", ":later"), list, error), error.strName));
}

TEST(ReleaseList, WrittenSortedByNameBytesAndReadBackAsWritten)
{
    ReleaseList written;
    written.vecFiles
        = {FileLine(HASH_A, 4, "core.zip"), FileLine(ABC_SHA256, 3, "UnInstall.exe"), FileLine(HASH_A, 1, "1.zip")};
    EXPECT_EQ(Line(HASH_A, "1", "1.zip") + Line(ABC_SHA256, "3", "UnInstall.exe") + Line(HASH_A, "4", "core.zip"),
        FormatReleaseList(written))
        << "no terms: the list of a release from before them";
    written.terms.nSerial = 7;
    written.terms.llExpires = 1798761600;
    const std::string strText = FormatReleaseList(written);
    EXPECT_EQ(Line(HASH_A, "1", "1.zip") + Line(ZERO_HASH, "1798761600", ":expires") + Line(ZERO_HASH, "7", ":serial")
            + Line(ABC_SHA256, "3", "UnInstall.exe") + Line(HASH_A, "4", "core.zip"),
        strText);
    ReleaseList read;
    ReleaseListError error;
    ASSERT_TRUE(Parse(strText, read, error));
    EXPECT_EQ(3u, read.vecFiles.size());
    EXPECT_EQ(7, read.terms.nSerial);
    EXPECT_EQ(strText, FormatReleaseList(read));
    EXPECT_EQ(ABC_SHA256, LowerHex(FindReleaseLine(read, "UnInstall.exe")->digest, SHA256_DIGEST_BYTES));
}

TEST(ReleaseList, OnlyAnOlderOrExpiredListIsRefused)
{
    const int64_t llNow = 1800000000;
    struct {
        int64_t nSerial, llExpires, nInstalled;
        ReleaseVerdict verdict;
    } const cases[] = {
        {5, -1, 5, ReleaseVerdict::ACCEPTED}, // the same release again: a repair
        {6, -1, 5, ReleaseVerdict::ACCEPTED},
        {4, -1, 5, ReleaseVerdict::OLDER_THAN_INSTALLED},
        {0, -1, 1, ReleaseVerdict::OLDER_THAN_INSTALLED}, // a list from before serials, over one with
        {0, -1, 0, ReleaseVerdict::ACCEPTED},
        {1, llNow + 1, 0, ReleaseVerdict::ACCEPTED},
        {1, llNow, 0, ReleaseVerdict::EXPIRED},
        {1, 0, 0, ReleaseVerdict::EXPIRED},
        {4, llNow - 1, 5, ReleaseVerdict::OLDER_THAN_INSTALLED},
    };
    for (const auto& c : cases) {
        ReleaseTerms terms;
        terms.nSerial = c.nSerial;
        terms.llExpires = c.llExpires;
        EXPECT_EQ(c.verdict, JudgeRelease(terms, c.nInstalled, llNow))
            << c.nSerial << " " << c.llExpires << " " << c.nInstalled;
    }
}

TEST(ReleaseList, TimesAreUtcCalendarText)
{
    for (const auto& time : std::vector<std::pair<int64_t, std::string>> {{0, "1970-01-01 00:00:00 UTC"},
             {-1, "1969-12-31 23:59:59 UTC"}, {951782400, "2000-02-29 00:00:00 UTC"},
             {1709251199, "2024-02-29 23:59:59 UTC"}, {4107542400, "2100-03-01 00:00:00 UTC"}})
        EXPECT_EQ(time.second, UtcTimeText(time.first)) << time.first;
}

TEST(ReleaseList, KeysAreTheUncompressedPointInLowerHex)
{
    uint8_t point[P256_POINT_BYTES];
    const std::string strKey = "04" + std::string(128, 'f');
    EXPECT_TRUE(ParsePublicKey(strKey, point));
    EXPECT_EQ(0x04, point[0]);
    EXPECT_TRUE(ParsePublicKey(std::u16string(strKey.begin(), strKey.end()), point)) << "in UTF-16 as well";
    for (const std::string& strBad :
        {"05" + std::string(128, 'f'), "04" + std::string(128, 'F'), "04" + std::string(127, 'f'), std::string()})
        EXPECT_FALSE(ParsePublicKey(strBad, point)) << strBad;
}

} // namespace
