#include "core/DestPath.h"

#include "core/SetupDlg.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "system/FolderSecurity.h"
#include "core/rules/Names.h"

namespace {
// How long construction waits for a drive list that a new Wine session does not have yet.
const int DRIVE_LIST_TRIES = 100;
const DWORD DRIVE_LIST_PAUSE_MS = 100;
} // namespace

void CSetupDlg::GetDestPath()
{
    m_szSetupPath[0] = L'\0';

    WCHAR szDrives[MAX_PATH];
    int nAsked = 0;
    DWORD cchDrives = QueryDriveList(
        GetLogicalDriveStringsW, szDrives, ARRAYSIZE(szDrives), DRIVE_LIST_TRIES, DRIVE_LIST_PAUSE_MS, &nAsked);
    WCHAR szRoot[MAX_PATH];
    bool bDriveC = false;
    if (ChooseDriveRoot(szDrives, cchDrives, szRoot, ARRAYSIZE(szRoot), &bDriveC)) {
        CopyString(m_szDriveRoot, ARRAYSIZE(m_szDriveRoot), bDriveC ? L"C:\\" : szRoot);
        bool bFits = Format(m_szSetupPath, ARRAYSIZE(m_szSetupPath), L"%s" INSTALL_FOLDER_NAME, szRoot)
            && Format(m_szTempPath, ARRAYSIZE(m_szTempPath), L"%stemp", szRoot)
            && Format(g_szLogPath, ARRAYSIZE(g_szLogPath), L"%stemp\\log.txt", szRoot)
            && Format(m_szUnInstallPath, ARRAYSIZE(m_szUnInstallPath), L"%sUnInstall " INSTALL_FOLDER_NAME, szRoot);
        // Archives, the log and the uninstaller's copy are written there: a link in its place, which any
        // user may make beforehand, would send them into another user's folder.
        CProtectedFolderSecurity security;
        if (bFits && !HoldRealFolder(m_szTempPath, security.Get(), false)) {
            LogError(L"[CSetupDlg::GetDestPath] %s is a link that cannot be removed, or no folder error=%lu",
                m_szTempPath, GetLastError());
            bFits = false;
        }
        if (bFits) {
            // The log of a copy that is installing is that copy's: this one adds to it instead.
            CInstallLock lock;
            if (lock.TryAcquire() && GetFileAttributesW(g_szLogPath) != INVALID_FILE_ATTRIBUTES)
                DeleteFileChecked(g_szLogPath);
            lock.Release();
        } else {
            m_szSetupPath[0] = m_szTempPath[0] = g_szLogPath[0] = m_szUnInstallPath[0] = L'\0';
        }
    }
    if (nAsked > 1)
        LogNormal(L"[CSetupDlg::GetDestPath] drive list asked %d times", nAsked);
    LogNormal(L"[CSetupDlg::GetDestPath] setuppath=%s", m_szSetupPath);
}

void CSetupDlg::WriteClientConfig(int nVersion)
{
    WCHAR szConfig[MAX_PATH];
    WCHAR szVersion[8];
    if (!Format(szConfig, ARRAYSIZE(szConfig), L"%s/config/ORB.System.config", m_szSetupPath)
        || !Format(szVersion, ARRAYSIZE(szVersion), L"%03d", nVersion))
        return;
    WritePrivateProfileStringW(L"Client", L"Version", szVersion, szConfig);
}
