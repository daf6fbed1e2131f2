#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/ReleaseCheck.h"
#include "support/Handles.h"

// release.sha256 and its signature, with P-256 keys that CNG makes for each test (none is kept).

namespace {

const std::string HASH_A(64, 'a');
const std::string ABC_SHA256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Line(const std::string& strHash, const std::string& strSize, const std::string& strName)
{
    return strHash + "  " + strSize + "  " + strName + "\n";
}

const std::string ZERO_HASH(64, '0');

bool Parse(const std::string& strText, std::vector<ReleaseLine>& lines, std::wstring& strReason)
{
    ReleaseTerms terms;
    return ParseReleaseList(reinterpret_cast<const BYTE*>(strText.data()), strText.size(), lines, terms, strReason);
}

bool ParseTerms(const std::string& strText, ReleaseTerms& terms, std::wstring& strReason)
{
    std::vector<ReleaseLine> lines;
    return ParseReleaseList(reinterpret_cast<const BYTE*>(strText.data()), strText.size(), lines, terms, strReason);
}

TEST(ReleaseList, ReadsHashSizeAndNameInByteOrder)
{
    std::vector<ReleaseLine> lines;
    std::wstring strReason;
    ASSERT_TRUE(Parse(Line(ABC_SHA256, "3", "UnInstall.exe") + Line(HASH_A, "1024", "core pack.zip")
            + Line(HASH_A, "0", "\xE4\xB8\xAD.zip"),
        lines, strReason))
        << Narrow(strReason);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0xBA, lines[0].digest[0]);
    EXPECT_EQ(0xAD, lines[0].digest[31]);
    EXPECT_EQ(1024, lines[1].nSize);
    EXPECT_EQ(&lines[1], FindReleaseLine(lines, "core pack.zip")) << "blanks belong to the name";
    EXPECT_EQ(&lines[2], FindReleaseLine(lines, "\xE4\xB8\xAD.zip"));
    EXPECT_EQ(nullptr, FindReleaseLine(lines, "core"));

    const std::string strGood = Line(HASH_A, "1", "a.zip");
    for (const std::string& strText : {std::string(), "\xEF\xBB\xBF" + strGood, strGood.substr(0, strGood.size() - 1),
             HASH_A + "  1  a.zip\r\n", std::string(64, 'A') + "  1  a.zip\n", HASH_A.substr(1) + "  1  a.zip\n",
             HASH_A + " 1  a.zip\n", HASH_A + "  +1  a.zip\n", HASH_A + "  1x  a.zip\n", HASH_A + "  1  \n",
             HASH_A + "  1  a\tb\n", strGood + "\n", Line(HASH_A, "1", "b.zip") + strGood, strGood + strGood}) {
        EXPECT_FALSE(Parse(strText, lines, strReason)) << strText;
        EXPECT_EQ(0u, strReason.find(L"malformed: ")) << Narrow(strReason);
    }
}

TEST(ReleaseList, TermsAreLinesOfTheirOwnThatNameNoFile)
{
    std::vector<ReleaseLine> lines;
    ReleaseTerms terms;
    std::wstring strReason;
    // ':' sorts after digits and before letters; the terms take part in the order like any name.
    const std::string strList = Line(HASH_A, "1", "1.zip") + Line(ZERO_HASH, "1798761600", ":expires")
        + Line(ZERO_HASH, "0", ":later-term") + Line(ZERO_HASH, "42", ":serial") + Line(HASH_A, "2", "A.zip")
        + Line(ABC_SHA256, "3", "core.zip");
    ASSERT_TRUE(
        ParseReleaseList(reinterpret_cast<const BYTE*>(strList.data()), strList.size(), lines, terms, strReason))
        << Narrow(strReason);
    EXPECT_EQ(42, terms.nSerial);
    EXPECT_EQ(1798761600, terms.llExpires);
    ASSERT_EQ(3u, lines.size()) << "terms are no files, and a term this installer does not know is passed over";
    EXPECT_EQ(nullptr, FindReleaseLine(lines, ":serial"));
    EXPECT_EQ(&lines[1], FindReleaseLine(lines, "A.zip"));

    // A list from before the terms: serial 0, no expiry.
    ASSERT_TRUE(ParseTerms(Line(HASH_A, "1", "a.zip"), terms, strReason));
    EXPECT_EQ(0, terms.nSerial);
    EXPECT_EQ(-1, terms.llExpires);

    const std::pair<std::string, std::wstring> malformed[] = {
        {Line(HASH_A, "42", ":serial"), L"malformed: line 1: a term with a digest that is not all zeros"},
        {Line(ZERO_HASH, "0", ":serial"), L"malformed: line 1: serial 0"},
        {Line(ZERO_HASH, "7", ":serial") + Line(ZERO_HASH, "1", ":expires"),
            L"malformed: line 2: names not in increasing byte order"},
        {Line(ZERO_HASH, "7", ":serial") + Line(ZERO_HASH, "8", ":serial"),
            L"malformed: line 2: names not in increasing byte order"},
        {Line(HASH_A, "1", "a.zip") + Line(ZERO_HASH, "7", ":serial"),
            L"malformed: line 2: names not in increasing byte order"},
    };
    for (const auto& c : malformed) {
        EXPECT_FALSE(ParseTerms(c.first, terms, strReason)) << c.first;
        EXPECT_EQ(c.second, strReason) << c.first;
    }
}

TEST(ReleaseList, OnlyAnOlderOrExpiredListIsRefused)
{
    const long long llNow = 1800000000;
    struct {
        long long nSerial, llExpires, nInstalled;
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

// A P-256 key made by CNG, signing as the release's owner would.
struct TestKey {
    TestKey()
    {
        EXPECT_EQ(0, BCryptOpenAlgorithmProvider(alg.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
        EXPECT_EQ(0, BCryptGenerateKeyPair(alg.Get(), key.Put(), 256, 0));
        EXPECT_EQ(0, BCryptFinalizeKeyPair(key.Get(), 0));
        BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
        ULONG cb = 0;
        EXPECT_EQ(0, BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &cb, 0));
        for (ULONG i = sizeof(BCRYPT_ECCKEY_BLOB); i < sizeof(blob); ++i)
            strHex += {L"0123456789abcdef"[blob[i] >> 4], L"0123456789abcdef"[blob[i] & 15]};
    }
    std::vector<BYTE> Sign(const std::string& strList) const
    {
        BYTE digest[SHA256_BYTES];
        EXPECT_EQ(0, Sha256(reinterpret_cast<const BYTE*>(strList.data()), strList.size(), digest));
        std::vector<BYTE> signature(P256_SIGNATURE_BYTES);
        ULONG cb = 0;
        EXPECT_EQ(0, BCryptSignHash(key.Get(), nullptr, digest, sizeof(digest), signature.data(), 64, &cb, 0));
        return signature;
    }

    CBcryptAlg alg;
    CBcryptKey key;
    std::wstring strHex = L"04";
};

struct Signed {
    std::wstring strKey;
    std::string strList;
    std::vector<BYTE> signature;
};

bool Accept(CReleaseCheck& check, const Signed& release, std::wstring& strFile, std::wstring& strReason)
{
    return check.Accept(release.strKey, reinterpret_cast<const BYTE*>(release.strList.data()),
        static_cast<int>(release.strList.size()), release.signature.data(), static_cast<int>(release.signature.size()),
        strFile, strReason);
}

TEST(ReleaseCheck, KeepsOnlyAListItsOwnersKeySignedAndComparesBodiesWithIt)
{
    TestKey owner, other;
    const std::string strList = Line(HASH_A, "0", "a.zip") + Line(ABC_SHA256, "3", "filecrc.txt");
    const std::vector<BYTE> signature = owner.Sign(strList);
    const std::pair<Signed, std::wstring> refused[] = {
        {{owner.strHex, "b" + strList.substr(1), signature}, L"release.sha256.sig signature invalid"},
        {{owner.strHex, strList, other.Sign(strList)}, L"release.sha256.sig signature invalid"},
        {{other.strHex, strList, signature}, L"release.sha256.sig signature invalid"},
        {{owner.strHex, strList, {signature.begin(), signature.end() - 1}},
            L"release.sha256.sig malformed: 63 bytes, not 64"},
        {{owner.strHex, "a.zip\n", owner.Sign("a.zip\n")},
            L"release.sha256 malformed: line 1: no SHA-256 of 64 lowercase hex digits and two blanks"},
        {{owner.strHex.substr(1), strList, signature}, L"built-in key is not 04 and 128 lowercase hex digits"},
    };
    CReleaseCheck check;
    std::wstring strFile, strReason;
    for (const auto& c : refused) {
        EXPECT_FALSE(Accept(check, c.first, strFile, strReason));
        EXPECT_EQ(c.second, strFile + L" " + strReason);
        EXPECT_EQ(0u, check.Count()) << "nothing of a refused list is kept";
    }

    ASSERT_TRUE(Accept(check, {owner.strHex, strList, signature}, strFile, strReason)) << Narrow(strReason);
    EXPECT_EQ(2u, check.Count());
    const BYTE abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(L"", check.Compare(L"filecrc.txt", abc, 3));
    EXPECT_EQ(L"hash mismatch", check.Compare(L"a.zip", abc, 0));
    EXPECT_EQ(L"size mismatch: 2 bytes, listed 3", check.Compare(L"filecrc.txt", abc, 2));
    EXPECT_EQ(L"not listed", check.Compare(L"b.zip", abc, 3));
    BYTE digest[SHA256_BYTES] = {};
    EXPECT_EQ(L"hash mismatch", check.Compare(L"filecrc.txt", abc, 3, digest)) << "a digest given is the one compared";
    ASSERT_EQ(0, Sha256(abc, 3, digest));
    EXPECT_EQ(L"", check.Compare(L"filecrc.txt", abc, 3, digest));
    std::vector<PackageEntry> entries = {{L"a.zip", 0, 1}, {L"", 0, 1}, {L"b.zip", 0, 7}};
    EXPECT_EQ(&entries[2], check.FirstUnlisted(entries))
        << "every named package counts, whatever its kind; a line without a name names nothing";
}

} // namespace
