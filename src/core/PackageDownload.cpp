#include "core/PackageDownload.h"

#include "core/SetupDlg.h"
#include "net/HttpDownload.h"
#include "support/Log.h"

bool CSetupDlg::DownloadPackage(const WCHAR* pszUrl, int nIndex, int nCount, CPackageDownload& package)
{
    if (package.nIndex != nIndex) {
        package.nIndex = nIndex;
        package.state.Reset();
        package.progress.Begin(m_nProgress, PackageEndProgress(nIndex + 1, nCount), GetTickCount64());
    }
    // What a broken attempt received stays in the buffer for this attempt to continue; anything else
    // starts from a cleared buffer, as every download does.
    if (!package.state.CanResume(m_nRecvLen)) {
        ClearRecvBuffer();
        m_nRecvLen = 0;
        package.state.Reset();
    }
    package.pDlg = this;
    package.state.SetProgress(OnPackageBytes, &package);
    package.state.SetStop(StopFlag());
    package.state.SetUnattended(m_bSilent ? &m_bProxyCredentialsAsked : nullptr);
    package.state.SetBodyLimit(ListedLimit(m_vecPackages[static_cast<size_t>(nIndex)].szName));
    bool bDownloaded = HttpDownload(pszUrl, &m_pRecvBuf, &m_nRecvLen, &m_nRecvBufSize, m_szProxyUser, m_szProxyPassword,
                           GetSafeHwnd(), &package.state)
        != 0;
    NoteRecvBufferUse(m_nRecvLen);
    // A whole body is never continued: after a failed write or extraction the package comes whole.
    // Nor is one longer than the signed list says: what it held is no part of the listed body.
    if (bDownloaded || package.state.m_bPastLimit)
        package.state.Reset();
    if (package.state.m_bPastLimit)
        LogError(L"[CSetupDlg::CheckRelease] %s size mismatch: longer than listed, %I64d bytes",
            m_vecPackages[static_cast<size_t>(nIndex)].szName, package.state.BodyLimit());
    return bDownloaded;
}

void CSetupDlg::OnPackageBytes(void* pContext, DWORD dwHeld, DWORD dwTotal)
{
    CPackageDownload* pPackage = static_cast<CPackageDownload*>(pContext);
    int nValue = pPackage->progress.Next(dwHeld, dwTotal, GetTickCount64());
    if (nValue >= 0) {
        pPackage->pDlg->m_nProgress = nValue;
        pPackage->pDlg->PostProgress();
    }
}
