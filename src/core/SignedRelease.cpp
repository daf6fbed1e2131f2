#include <vector>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "support/Cng.h"
#include "support/Format.h"
#include "support/Log.h"

// A build with a release key installs only what the release's owner signed. Without a key every
// step here passes at once and logs nothing.

namespace {

// Read to at most this: a list of a few hundred lines is some kilobytes.
const long long RELEASE_LIST_LIMIT = 1 << 20;

bool IsSigned()
{
    return !g_strReleaseKey.empty();
}

} // namespace

void CSetupDlg::RefuseRelease()
{
    m_bReleaseRefused = true;
    ShowError(L"安装包签名无效");
}

bool CSetupDlg::FetchReleaseList()
{
    m_bReleaseRefused = false;
    if (!IsSigned())
        return true;
    std::wstring strFile = L"release.sha256";
    std::wstring strReason = L"download failed";
    std::wstring strUrl = FormatString(L"%srelease.sha256", g_strBaseUrl.c_str());
    LogNormal(L"[CSetupDlg::CheckRelease] start download  %s", strUrl.c_str());
    if (DownloadToRecvBuffer(strUrl.c_str(), RELEASE_LIST_LIMIT)) {
        // Copied out: the signature arrives in the same block.
        std::vector<BYTE> list(m_pRecvBuf, m_pRecvBuf + m_nRecvLen);
        strFile = L"release.sha256.sig";
        if (DownloadToRecvBuffer((strUrl + L".sig").c_str(), P256_SIGNATURE_BYTES)
            && m_release.Accept(g_strReleaseKey, list.data(), static_cast<int>(list.size()), m_pRecvBuf, m_nRecvLen,
                strFile, strReason)) {
            LogNormal(L"[CSetupDlg::CheckRelease] release.sha256 signature valid, %u files listed",
                static_cast<unsigned>(m_release.Count()));
            return true;
        }
    }
    LogError(L"[CSetupDlg::CheckRelease] %s %s", strFile.c_str(), strReason.c_str());
    if (StopRequested())
        return false;
    RefuseRelease();
    return false;
}

long long CSetupDlg::ListedLimit(const WCHAR* pszName) const
{
    return IsSigned() ? m_release.ListedSize(pszName) : -1;
}

bool CSetupDlg::ReceivedMatchesRelease(const WCHAR* pszName)
{
    if (!IsSigned())
        return true;
    std::wstring strProblem = m_release.Compare(pszName, m_pRecvBuf, m_nRecvLen);
    if (!strProblem.empty()) {
        LogError(L"[CSetupDlg::CheckRelease] %s %s", pszName, strProblem.c_str());
        return false;
    }
    LogNormal(L"[CSetupDlg::CheckRelease] %s matches", pszName);
    return true;
}

bool CSetupDlg::ReleaseListsEveryPackage()
{
    const PackageEntry* pEntry = IsSigned() ? m_release.FirstUnlisted(m_vecPackages) : nullptr;
    if (pEntry == nullptr)
        return true;
    LogError(L"[CSetupDlg::CheckRelease] %s not listed", pEntry->szName);
    RefuseRelease();
    return false;
}
