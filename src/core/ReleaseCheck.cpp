#include "core/ReleaseCheck.h"

#include <cstring>

#include "support/Format.h"

bool CReleaseCheck::Accept(const std::wstring& strKey, const BYTE* pList, int cbList, const BYTE* pSignature,
    int cbSignature, std::wstring& strFile, std::wstring& strReason)
{
    m_vecLines.clear();
    BYTE point[P256_POINT_BYTES];
    if (!ParseLowerHex(strKey.c_str(), strKey.size(), point, sizeof(point)) || point[0] != 0x04) {
        strFile = L"built-in key";
        strReason = L"is not 04 and 128 lowercase hex digits";
        return false;
    }
    strFile = L"release.sha256.sig";
    if (cbSignature != static_cast<int>(P256_SIGNATURE_BYTES)) {
        strReason = FormatString(L"malformed: %d bytes, not %lu", cbSignature, P256_SIGNATURE_BYTES);
        return false;
    }
    BYTE signature[P256_SIGNATURE_BYTES];
    memcpy(signature, pSignature, sizeof(signature));
    NTSTATUS status = VerifyP256(point, pList, static_cast<size_t>(cbList), signature);
    if (status == CNG_INVALID_SIGNATURE) {
        strReason = L"signature invalid";
        return false;
    }
    if (!BCRYPT_SUCCESS(status)) {
        strReason = FormatString(L"not checked: CNG status 0x%08lX", static_cast<unsigned long>(status));
        return false;
    }
    // Signed, so its bytes are the owner's: only now is the list read.
    strFile = L"release.sha256";
    std::vector<ReleaseLine> vecLines;
    ReleaseTerms terms;
    if (!ParseReleaseList(pList, static_cast<size_t>(cbList), vecLines, terms, strReason))
        return false;
    m_vecLines.swap(vecLines);
    m_terms = terms;
    return true;
}

const ReleaseLine* CReleaseCheck::Find(const WCHAR* pszName) const
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, pszName, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 1)
        return nullptr;
    std::string strName(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, pszName, -1, &strName[0], cb, nullptr, nullptr);
    strName.resize(static_cast<size_t>(cb - 1));
    return FindReleaseLine(m_vecLines, strName);
}

std::wstring CReleaseCheck::Compare(const WCHAR* pszName, const BYTE* pBody, int cbBody, const BYTE* pDigest) const
{
    const ReleaseLine* pLine = Find(pszName);
    if (pLine == nullptr)
        return L"not listed";
    if (pLine->nSize != cbBody)
        return FormatString(L"size mismatch: %d bytes, listed %I64d", cbBody, pLine->nSize);
    BYTE digest[SHA256_BYTES];
    if (pDigest == nullptr) {
        NTSTATUS status = Sha256(pBody, static_cast<size_t>(cbBody), digest);
        if (!BCRYPT_SUCCESS(status))
            return FormatString(L"not hashed: CNG status 0x%08lX", static_cast<unsigned long>(status));
        pDigest = digest;
    }
    return memcmp(pDigest, pLine->digest, SHA256_BYTES) == 0 ? std::wstring() : L"hash mismatch";
}

const PackageEntry* CReleaseCheck::FirstUnlisted(const std::vector<PackageEntry>& vecPackages) const
{
    for (const PackageEntry& entry : vecPackages) {
        // A line without a name names no file: the run skips it, whatever its kind.
        if (entry.szName[0] != L'\0' && Find(entry.szName) == nullptr)
            return &entry;
    }
    return nullptr;
}

long long CReleaseCheck::ListedSize(const WCHAR* pszName) const
{
    const ReleaseLine* pLine = Find(pszName);
    return pLine != nullptr ? pLine->nSize : -1;
}
