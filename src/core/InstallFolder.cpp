#include "core/SetupDlg.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "system/FolderSecurity.h"

bool CSetupDlg::MakeInstallFolder()
{
    CProtectedFolderSecurity security;
    // A folder at the drive's root with the default security would be writable by every user.
    if (security.Get() != nullptr)
        m_installFolder = HoldRealFolder(m_szSetupPath, security.Get(), true);
    if (!m_installFolder) {
        LogError(L"[CSetupDlg::Execute] install folder %s not made: a link or a folder of someone else's may be in "
                 L"its place error=%lu",
            m_szSetupPath, GetLastError());
        ShowError(L"安装失败");
        return false;
    }
    LogNormal(L"[CSetupDlg::Execute] install folder %s made", m_szSetupPath);
    return true;
}

bool CSetupDlg::InstallFolderIntact()
{
    if (m_installFolder && IsHeldFolder(m_installFolder.Get(), m_szSetupPath))
        return true;
    LogError(L"[CSetupDlg::Execute] install folder %s is no longer the folder made for this run", m_szSetupPath);
    ShowError(L"安装失败");
    return false;
}
