#include <cstring>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "support/FileWrite.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "core/rules/Names.h"

BOOL CSetupDlg::DownloadUninstallFile()
{
    LogNormal(L"[CSetupDlg::Execute] UnInstall.exe-url = %sUnInstall.exe", g_strBaseUrl.c_str());
    bool bRefused = false;
    if (!FetchReleaseFile(L"UnInstall.exe", bRefused)) {
        // Longer than the signed list says, or not the listed bytes.
        if (bRefused) {
            RefuseRelease();
            return FALSE;
        }
        LogError(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed");
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Download UnInstall.exe seccuss");

    // m_szDriveRoot ends in a backslash: the doubled separator is read as one.
    WCHAR szPath[MAX_PATH];
    if (!Format(szPath, ARRAYSIZE(szPath), L"%s\\%s\\UnInstall.exe", m_szDriveRoot, L"" INSTALL_FOLDER_NAME)) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] path too long root=%s", m_szDriveRoot);
        return FALSE;
    }
    // The entry runs it as an administrator: never through a link, never into a replaced folder.
    if (!InstallFolderIntact())
        return FALSE;
    CFileHandle file = CreateFreshFile(szPath, GENERIC_WRITE, 0);
    if (!file) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe failed");
        return FALSE;
    }
    // A short write would leave a broken uninstaller behind a report of success.
    if (!WriteAll(file.Get(), m_pRecvBuf, static_cast<DWORD>(m_nRecvLen))) {
        DWORD dwError = GetLastError();
        if (IsDiskFullError(dwError))
            m_bDiskFull = true;
        LogError(L"[CSetupDlg::DownloadUninstallFile] Write file UnInstall.exe failed error=%lu", dwError);
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe seccuss");
    return TRUE;
}
