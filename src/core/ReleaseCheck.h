#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "core/PackageEntry.h"
#include "core/rules/ReleaseList.h"

// The signed list of the release being installed: once its signature has been verified with the
// built-in public key, every later body must match its line before it is parsed, written or extracted.
class CReleaseCheck {
public:
    // Verifies that pSignature (r || s) signs the exact bytes of the list under strKey (the 130 hex
    // digits of the uncompressed point) and keeps the list's lines. False with the file at fault and
    // the reason otherwise; no list is kept then.
    bool Accept(const std::wstring& strKey, const BYTE* pList, int cbList, const BYTE* pSignature, int cbSignature,
        std::wstring& strFile, std::wstring& strReason);
    // Empty when the body matches the line for the name; else why not: "not listed", a size or a
    // hash mismatch. pDigest, when given, is the body's SHA-256, taken as it arrived.
    std::wstring Compare(const WCHAR* pszName, const BYTE* pBody, int cbBody, const BYTE* pDigest = nullptr) const;
    // The size the name's line gives, or -1 without a line.
    long long ListedSize(const WCHAR* pszName) const;
    // The first entry whose name has no line, or nullptr.
    const PackageEntry* FirstUnlisted(const std::vector<PackageEntry>& vecPackages) const;
    size_t Count() const { return m_list.vecFiles.size(); }
    const ReleaseTerms& Terms() const { return m_list.terms; }

private:
    const ReleaseLine* Find(const WCHAR* pszName) const;

    ReleaseList m_list;
};

// The installer's record of why a list is malformed: "malformed: line 3: ...".
std::wstring DescribeListProblem(const ReleaseListError& error);
