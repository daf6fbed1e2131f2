#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/ReleaseCheck.h"
#include "support/Cng.h"
#include "support/Handles.h"

// release.sha256 and its signature, with P-256 keys that CNG makes for each test (none is kept).

namespace {

const std::string HASH_A(64, 'a');
const std::string ABC_SHA256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Line(const std::string& strHash, const std::string& strSize, const std::string& strName)
{
    return strHash + "  " + strSize + "  " + strName + "\n";
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
        BYTE digest[SHA256_DIGEST_BYTES];
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
    BYTE digest[SHA256_DIGEST_BYTES] = {};
    EXPECT_EQ(L"hash mismatch", check.Compare(L"filecrc.txt", abc, 3, digest)) << "a digest given is the one compared";
    ASSERT_EQ(0, Sha256(abc, 3, digest));
    EXPECT_EQ(L"", check.Compare(L"filecrc.txt", abc, 3, digest));
    std::vector<PackageEntry> entries = {{L"a.zip", 0, 1}, {L"", 0, 1}, {L"b.zip", 0, 7}};
    EXPECT_EQ(&entries[2], check.FirstUnlisted(entries))
        << "every named package counts, whatever its kind; a line without a name names nothing";
}

TEST(ReleaseCheck, MalformedListsAreRecordedInTheInstallersWords)
{
    using P = ReleaseListProblem;
    const std::pair<ReleaseListError, std::wstring> cases[] = {
        {{P::BYTE_ORDER_MARK, 0, ""}, L"malformed: byte-order mark"},
        {{P::NO_FINAL_LINE_FEED, 0, ""}, L"malformed: empty, or the last line has no LF"},
        {{P::NO_DIGEST, 2, ""}, L"malformed: line 2: no SHA-256 of 64 lowercase hex digits and two blanks"},
        {{P::NO_SIZE, 3, ""}, L"malformed: line 3: no decimal size and two blanks"},
        {{P::NO_NAME, 1, ""}, L"malformed: line 1: no name, or a control character in it"},
        {{P::NAME_ORDER, 4, "b"}, L"malformed: line 4: names not in increasing byte order"},
        {{P::TERM_DIGEST, 1, ":serial"}, L"malformed: line 1: a term with a digest that is not all zeros"},
        {{P::SERIAL_ZERO, 5, ":serial"}, L"malformed: line 5: serial 0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, DescribeListProblem(c.first));
}

} // namespace
