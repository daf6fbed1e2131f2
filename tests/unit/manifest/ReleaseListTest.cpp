#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/ReleaseCheck.h"
#include "support/Handles.h"

// release.sha256 and its signature, with a P-256 key that CNG makes for each test (none is kept).

namespace {

const std::string HASH_A(64, 'a');
const std::string ABC_SHA256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

bool Parse(const std::string& strText, std::vector<ReleaseLine>& lines, std::wstring& strReason)
{
    return ParseReleaseList(reinterpret_cast<const BYTE*>(strText.data()), strText.size(), lines, strReason);
}

std::string Line(const std::string& strHash, const std::string& strSize, const std::string& strName)
{
    return strHash + "  " + strSize + "  " + strName + "\n";
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
    EXPECT_EQ("core pack.zip", lines[1].strName) << "blanks belong to the name";
    EXPECT_EQ(&lines[2], FindReleaseLine(lines, "\xE4\xB8\xAD.zip"));
    EXPECT_EQ(nullptr, FindReleaseLine(lines, "core"));
}

TEST(ReleaseList, EveryBreakOfTheFormatIsMalformed)
{
    const std::string strGood = Line(HASH_A, "1", "a.zip");
    for (const std::string& strText : {std::string(), "\xEF\xBB\xBF" + strGood, strGood.substr(0, strGood.size() - 1),
             HASH_A + "  1  a.zip\r\n", std::string(64, 'A') + "  1  a.zip\n", HASH_A.substr(1) + "  1  a.zip\n",
             HASH_A + " 1  a.zip\n", HASH_A + "  +1  a.zip\n", HASH_A + "  1x  a.zip\n", HASH_A + "  1  \n",
             HASH_A + "  1  a\tb\n", strGood + "\n", Line(HASH_A, "1", "b.zip") + strGood, strGood + strGood}) {
        std::vector<ReleaseLine> lines;
        std::wstring strReason;
        EXPECT_FALSE(Parse(strText, lines, strReason)) << strText;
        EXPECT_EQ(0u, strReason.find(L"malformed: ")) << Narrow(strReason);
    }
}

// A key made by CNG, which signs as the release's owner would.
class ReleaseCheckTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, BCryptOpenAlgorithmProvider(m_alg.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0));
        m_strKey = MakeKey(m_key);
        m_strList = Line(HASH_A, "0", "a.zip") + Line(ABC_SHA256, "3", "filecrc.txt");
    }

    std::wstring MakeKey(CBcryptKey& key)
    {
        EXPECT_EQ(0, BCryptGenerateKeyPair(m_alg.Get(), key.Put(), 256, 0));
        EXPECT_EQ(0, BCryptFinalizeKeyPair(key.Get(), 0));
        BYTE blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
        ULONG cb = 0;
        EXPECT_EQ(0, BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof(blob), &cb, 0));
        std::wstring strHex = L"04";
        for (ULONG i = sizeof(BCRYPT_ECCKEY_BLOB); i < sizeof(blob); ++i)
            strHex += FormatHex(blob[i]);
        return strHex;
    }
    static std::wstring FormatHex(BYTE b)
    {
        const wchar_t* digits = L"0123456789abcdef";
        return {digits[b >> 4], digits[b & 15]};
    }
    std::vector<BYTE> SignList(const CBcryptKey& key, const std::string& strList)
    {
        BYTE digest[SHA256_BYTES];
        EXPECT_EQ(0, Sha256(reinterpret_cast<const BYTE*>(strList.data()), strList.size(), digest));
        std::vector<BYTE> signature(P256_SIGNATURE_BYTES);
        ULONG cb = 0;
        EXPECT_EQ(0, BCryptSignHash(key.Get(), nullptr, digest, sizeof(digest), signature.data(), 64, &cb, 0));
        return signature;
    }
    bool Accept(const std::wstring& strKey, const std::string& strList, const std::vector<BYTE>& signature)
    {
        return m_check.Accept(strKey, reinterpret_cast<const BYTE*>(strList.data()), static_cast<int>(strList.size()),
            signature.data(), static_cast<int>(signature.size()), m_strFile, m_strReason);
    }

    CBcryptAlg m_alg;
    CBcryptKey m_key;
    std::wstring m_strKey;
    std::string m_strList;
    CReleaseCheck m_check;
    std::wstring m_strFile;
    std::wstring m_strReason;
};

TEST_F(ReleaseCheckTest, SignedListIsKeptAndBodiesAreComparedWithTheirLines)
{
    ASSERT_TRUE(Accept(m_strKey, m_strList, SignList(m_key, m_strList))) << Narrow(m_strReason);
    EXPECT_EQ(2u, m_check.Count());
    const BYTE abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(L"", m_check.Compare(L"filecrc.txt", abc, 3));
    EXPECT_EQ(L"hash mismatch", m_check.Compare(L"a.zip", abc, 0));
    EXPECT_EQ(L"size mismatch: 2 bytes, listed 3", m_check.Compare(L"filecrc.txt", abc, 2));
    EXPECT_EQ(L"not listed", m_check.Compare(L"b.zip", abc, 3));
    std::vector<PackageEntry> entries = {{L"a.zip", 0, 1}, {L"b.zip", 0, 7}};
    EXPECT_EQ(&entries[1], m_check.FirstUnlisted(entries)) << "every named package counts, whatever its kind";
}

TEST_F(ReleaseCheckTest, ListIsRefusedUnlessItsOwnersKeySignedItsExactBytes)
{
    CBcryptKey other;
    std::wstring strOtherKey = MakeKey(other);
    std::vector<BYTE> signature = SignList(m_key, m_strList);
    std::string strChanged = m_strList;
    strChanged[0] = 'b';
    struct {
        std::wstring strKey;
        std::string strList;
        std::vector<BYTE> signature;
        const wchar_t* pszFile;
        const wchar_t* pszReason;
    } cases[] = {
        {m_strKey, strChanged, signature, L"release.sha256.sig", L"signature invalid"},
        {m_strKey, m_strList, SignList(other, m_strList), L"release.sha256.sig", L"signature invalid"},
        {strOtherKey, m_strList, signature, L"release.sha256.sig", L"signature invalid"},
        {m_strKey, m_strList, std::vector<BYTE>(signature.begin(), signature.end() - 1), L"release.sha256.sig",
            L"malformed: 63 bytes, not 64"},
        {m_strKey, "a.zip\n", SignList(m_key, "a.zip\n"), L"release.sha256",
            L"malformed: line 1: no SHA-256 of 64 lowercase hex digits and two blanks"},
        {m_strKey.substr(1), m_strList, signature, L"built-in key", L"is not 04 and 128 lowercase hex digits"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Accept(c.strKey, c.strList, c.signature));
        EXPECT_EQ(c.pszFile, m_strFile);
        EXPECT_EQ(c.pszReason, m_strReason);
        EXPECT_EQ(0u, m_check.Count()) << "nothing of a refused list is kept";
    }
}

} // namespace
