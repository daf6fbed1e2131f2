#include "core/PackageList.h"

#include "core/SetupDlg.h"
#include "core/rules/Text.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/WideText.h"

#include "app/Globals.h"

int CSetupDlg::ParsePackageList(const std::wstring& strText)
{
    return ParsePackageLines(strText, m_vecPackages);
}

bool CSetupDlg::Execute(int* pnCount)
{
    if (!FetchReleaseList())
        return false;
    LogNormal(L"[CSetupDlg::Execute] start download  %sorbsetup.txt", g_strBaseUrl.c_str());

    bool bRefused = false;
    bool bDownloaded = FetchReleaseFile(L"orbsetup.txt", bRefused);
    // A stop ends the download under way: no failure to show to a window that has gone.
    if (!bDownloaded && StopRequested())
        return false;
    // Longer than the signed list says, or not the listed bytes.
    if (!bDownloaded && bRefused) {
        RefuseRelease();
        return false;
    }
    if (!bDownloaded) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt failed");
        return false;
    }
    if (m_nRecvLen < 3) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt faile");
        return false;
    }

    std::wstring strText = FromU16(DecodeServedText(m_pRecvBuf, static_cast<size_t>(m_nRecvLen)));
    LogNormal(L"[CSetupDlg::Execute] orbsetup.txt Begin");
    LogNormal(L"[CSetupDlg::Execute] %s", strText.c_str());
    LogNormal(L"[CSetupDlg::Execute] orbsetup.txt End");

    if (strText.empty() || ParsePackageList(strText) <= 0) {
        ShowError(L"orbsetup.txt为空");
        LogError(L"[CSetupDlg::Execute]Setupconfig.txt no content");
        return false;
    }
    if (!ReleaseListsEveryPackage())
        return false;
    LogNormal(L"[CSetupDlg::Execute] download orbsetup.txt sccuss");
    if (pnCount != nullptr)
        *pnCount = static_cast<int>(m_vecPackages.size());
    return true;
}
