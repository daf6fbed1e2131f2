#include "core/PackageDownload.h"

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "net/HttpDownload.h"
#include "support/Log.h"

void CSetupDlg::BeginPackage(int nIndex, int nCount, CPackageDownload& package)
{
    package.nIndex = nIndex;
    package.nBase = 0;
    package.bContinuable = false;
    package.state.Reset();
    package.progress.Begin(m_nProgress, PackageEndProgress(nIndex + 1, nCount), GetTickCount64());
}

bool CSetupDlg::DownloadPackage(const WCHAR* pszUrl, CPackageDownload& package)
{
    // What a broken attempt received stays in the buffer for this attempt to continue; anything else
    // starts from a cleared buffer, as every download does.
    if (!package.state.CanResume(m_nRecvLen)) {
        ClearRecvBuffer();
        m_nRecvLen = 0;
        package.state.Reset();
    }
    const DWORD dwHeld = package.state.Held(m_nRecvLen);
    const WCHAR* pszName = m_vecPackages[static_cast<size_t>(package.nIndex)].szName;
    package.pDlg = this;
    package.state.SetProgress(OnPackageBytes, &package);
    package.state.SetStop(StopFlag());
    package.state.SetUnattended(m_bSilent ? &m_bProxyCredentialsAsked : nullptr);
    package.state.SetBodyLimit(ListedLimit(pszName));
    package.state.SetHashing(!g_strReleaseKey.empty());
    bool bDownloaded = HttpDownload(pszUrl, &m_pRecvBuf, &m_nRecvLen, &m_nRecvBufSize, m_szProxyUser, m_szProxyPassword,
                           GetSafeHwnd(), &package.state)
        != 0;
    NoteRecvBufferUse(m_nRecvLen);
    // What is held of a body longer than the signed list says is no part of the listed body. (A whole
    // body is never continued either: it is held to its end, which nothing continues.)
    LogPastListedSize(pszName, package.state);
    if (package.state.m_bPastLimit)
        package.state.Reset();
    // A cut that brought more of the body is continued where it broke; an attempt that brought
    // nothing more turns to the next server, as any other failure does.
    package.bContinuable
        = !bDownloaded && package.state.CanResume(m_nRecvLen) && package.state.Held(m_nRecvLen) > dwHeld;
    return bDownloaded;
}

void CSetupDlg::NextPackageBase(const WCHAR* pszName, CPackageDownload& package)
{
    if (package.bContinuable || BaseUrlCount() < 2) {
        package.bContinuable = false;
        return;
    }
    const size_t nNext = (package.nBase + 1) % BaseUrlCount();
    LogFallback(BaseUrlAt(package.nBase) + pszName, BaseUrlAt(nNext) + pszName);
    package.nBase = nNext;
    // Bytes from one server are never continued with another's.
    package.state.Reset();
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
