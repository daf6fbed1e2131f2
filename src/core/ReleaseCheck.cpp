#include "core/ReleaseCheck.h"

#include <cstring>

#include "core/rules/Text.h"
#include "support/Cng.h"
#include "support/Format.h"
#include "support/WideText.h"

bool CReleaseCheck::Accept(const std::wstring& strKey, const BYTE* pList, int cbList, const BYTE* pSignature,
    int cbSignature, std::wstring& strFile, std::wstring& strReason)
{
    m_list = ReleaseList();
    BYTE point[P256_POINT_BYTES];
    if (!ParsePublicKey(strKey, point)) {
        strFile = L"built-in key";
        strReason = L"is not 04 and 128 lowercase hex digits";
        return false;
    }
    strFile = L"release.sha256.sig";
    if (cbSignature != static_cast<int>(P256_SIGNATURE_BYTES)) {
        strReason = FormatString(
            L"malformed: %d bytes, not %lu", cbSignature, static_cast<unsigned long>(P256_SIGNATURE_BYTES));
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
    ReleaseList list;
    ReleaseListError error;
    if (!ParseReleaseList(pList, static_cast<size_t>(cbList), list, error)) {
        strReason = DescribeListProblem(error);
        return false;
    }
    m_list = list;
    return true;
}

const ReleaseLine* CReleaseCheck::Find(const WCHAR* pszName) const
{
    const std::string strName = Utf16ToUtf8(AsU16(pszName));
    return strName.empty() ? nullptr : FindReleaseLine(m_list, strName);
}

std::wstring CReleaseCheck::Compare(const WCHAR* pszName, const BYTE* pBody, int cbBody, const BYTE* pDigest) const
{
    const ReleaseLine* pLine = Find(pszName);
    if (pLine == nullptr)
        return L"not listed";
    if (pLine->nSize != cbBody)
        return FormatString(L"size mismatch: %d bytes, listed %I64d", cbBody, pLine->nSize);
    BYTE digest[SHA256_DIGEST_BYTES];
    if (pDigest == nullptr) {
        NTSTATUS status = Sha256(pBody, static_cast<size_t>(cbBody), digest);
        if (!BCRYPT_SUCCESS(status))
            return FormatString(L"not hashed: CNG status 0x%08lX", static_cast<unsigned long>(status));
        pDigest = digest;
    }
    return memcmp(pDigest, pLine->digest, SHA256_DIGEST_BYTES) == 0 ? std::wstring() : L"hash mismatch";
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

std::wstring DescribeListProblem(const ReleaseListError& error)
{
    const WCHAR* pszProblem = L"";
    switch (error.problem) {
    case ReleaseListProblem::NONE:
        return std::wstring();
    case ReleaseListProblem::BYTE_ORDER_MARK:
        return L"malformed: byte-order mark";
    case ReleaseListProblem::NO_FINAL_LINE_FEED:
        return L"malformed: empty, or the last line has no LF";
    case ReleaseListProblem::NO_DIGEST:
        pszProblem = L"no SHA-256 of 64 lowercase hex digits and two blanks";
        break;
    case ReleaseListProblem::NO_SIZE:
        pszProblem = L"no decimal size and two blanks";
        break;
    case ReleaseListProblem::NO_NAME:
        pszProblem = L"no name, or a control character in it";
        break;
    case ReleaseListProblem::NAME_ORDER:
        pszProblem = L"names not in increasing byte order";
        break;
    case ReleaseListProblem::TERM_DIGEST:
        pszProblem = L"a term with a digest that is not all zeros";
        break;
    case ReleaseListProblem::SERIAL_ZERO:
        pszProblem = L"serial 0";
        break;
    }
    return FormatString(L"malformed: line %u: %s", error.nLine, pszProblem);
}
