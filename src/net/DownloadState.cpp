#include "net/DownloadState.h"

#include <cwchar>

#include "support/Format.h"

void CDownloadState::Reset()
{
    m_nBodyStart = 0;
    m_szValidator[0] = L'\0';
    m_bTotal = false;
    m_dwTotal = 0;
    if (m_pHash)
        m_pHash->Reset();
}

void CDownloadState::SetProgress(PFN_PROGRESS pfnProgress, void* pContext)
{
    m_pfnProgress = pfnProgress;
    m_pContext = pContext;
}

void CDownloadState::BeginBody(
    int nBodyStart, const WCHAR* pszETag, const WCHAR* pszLastModified, bool bTotal, DWORD dwTotal)
{
    m_nBodyStart = nBodyStart;
    if (!ChooseValidator(pszETag, pszLastModified, m_szValidator, ARRAYSIZE(m_szValidator)))
        m_szValidator[0] = L'\0';
    m_bTotal = bTotal;
    m_dwTotal = dwTotal;
    if (m_pHash)
        m_pHash->Reset();
}

DWORD CDownloadState::Held(int nLength) const
{
    return nLength > m_nBodyStart ? static_cast<DWORD>(nLength - m_nBodyStart) : 0;
}

bool CDownloadState::CanResume(int nLength) const
{
    return m_szValidator[0] != L'\0' && m_bTotal && Held(nLength) > 0 && Held(nLength) < m_dwTotal;
}

void CDownloadState::ReportProgress(int nLength) const
{
    if (m_pfnProgress != nullptr && m_bTotal)
        m_pfnProgress(m_pContext, Held(nLength), m_dwTotal);
}

void CDownloadState::SetHashing(bool bHashing)
{
    if (bHashing && !m_pHash)
        m_pHash.reset(new CStreamHash());
    else if (!bHashing)
        m_pHash.reset();
}

void CDownloadState::NoteBytes(const BYTE* pBlock, int nLength)
{
    if (m_pHash && nLength >= m_nBodyStart)
        m_pHash->Extend(pBlock + m_nBodyStart, Held(nLength));
}

void CDownloadState::DetachBlock()
{
    if (m_pHash)
        m_pHash->Detach();
}

bool CDownloadState::BodyDigest(const BYTE* pBlock, int nLength, BYTE (&digest)[SHA256_DIGEST_BYTES])
{
    return m_pHash && nLength >= m_nBodyStart
        && BCRYPT_SUCCESS(m_pHash->Finish(pBlock + m_nBodyStart, Held(nLength), digest));
}

bool ChooseValidator(const WCHAR* pszETag, const WCHAR* pszLastModified, WCHAR* pszValidator, size_t cchValidator)
{
    const WCHAR* pszChosen = nullptr;
    if (pszETag != nullptr && pszETag[0] == L'"')
        pszChosen = pszETag;
    else if (pszLastModified != nullptr && pszLastModified[0] != L'\0')
        pszChosen = pszLastModified;
    // A validator with a line break would end the header and start another.
    if (pszChosen == nullptr || wcspbrk(pszChosen, L"\r\n") != nullptr)
        return false;
    return CopyString(pszValidator, cchValidator, pszChosen);
}

namespace {

// Reads decimal digits at psz into pdwValue; the position after them, or nullptr without digits or
// beyond 32 bits.
const WCHAR* ReadNumber(const WCHAR* psz, DWORD* pdwValue)
{
    unsigned long long ullValue = 0;
    const WCHAR* pszStart = psz;
    for (; *psz >= L'0' && *psz <= L'9'; ++psz) {
        ullValue = ullValue * 10 + static_cast<unsigned>(*psz - L'0');
        if (ullValue > MAXDWORD)
            return nullptr;
    }
    *pdwValue = static_cast<DWORD>(ullValue);
    return psz == pszStart ? nullptr : psz;
}

} // namespace

bool ContinuesBody(const WCHAR* pszContentRange, DWORD dwFrom, DWORD dwTotal)
{
    if (pszContentRange == nullptr || _wcsnicmp(pszContentRange, L"bytes ", 6) != 0)
        return false;
    DWORD dwFirst = 0;
    DWORD dwLast = 0;
    DWORD dwWhole = 0;
    const WCHAR* psz = ReadNumber(pszContentRange + 6, &dwFirst);
    if (psz == nullptr || *psz != L'-' || (psz = ReadNumber(psz + 1, &dwLast)) == nullptr || *psz != L'/'
        || (psz = ReadNumber(psz + 1, &dwWhole)) == nullptr || *psz != L'\0')
        return false;
    return dwTotal > 0 && dwFirst == dwFrom && dwLast == dwTotal - 1 && dwWhole == dwTotal;
}

bool FormatResumeHeaders(WCHAR* pszHeaders, size_t cchHeaders, DWORD dwFrom, const WCHAR* pszValidator)
{
    return Format(pszHeaders, cchHeaders, L"Range: bytes=%lu-\r\nIf-Range: %s\r\n", dwFrom, pszValidator);
}
