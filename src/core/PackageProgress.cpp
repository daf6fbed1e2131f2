#include "core/PackageProgress.h"

int PackageEndProgress(int nHandled, int nCount)
{
    return static_cast<int>(nHandled * 95.0 / nCount);
}

void CPackageProgress::Begin(int nShown, int nEnd, ULONGLONG ullNow)
{
    m_nStart = nShown;
    m_nEnd = nEnd;
    m_nShown = nShown;
    m_ullShown = ullNow;
}

int CPackageProgress::Next(DWORD dwHeld, DWORD dwTotal, ULONGLONG ullNow)
{
    // A complete body gets its value from the completion of the package, at once.
    if (dwHeld >= dwTotal || m_nEnd <= m_nStart || ullNow - m_ullShown < INTERVAL_MS)
        return -1;
    // Rounded down, a part of the body always stays below the end of the span.
    int nValue = m_nStart + static_cast<int>(static_cast<unsigned long long>(m_nEnd - m_nStart) * dwHeld / dwTotal);
    if (nValue <= m_nShown)
        return -1;
    m_nShown = nValue;
    m_ullShown = ullNow;
    return nValue;
}
