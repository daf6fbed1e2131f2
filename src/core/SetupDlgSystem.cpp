#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "system/ClientProcess.h"
#include "system/ShellLinks.h"
#include "system/UninstallEntry.h"

// The work lives in free functions that take the folders, so that tests need no installer window.

void CSetupDlg::WriteRegistry()
{
    // The serial of the signed list the run installed from, so that no later run installs an older one.
    WriteUninstallEntry(m_szSetupPath, m_szUnInstallPath, g_strReleaseKey.empty() ? 0 : m_release.Terms().nSerial);
}

int CSetupDlg::SetStartShellLink()
{
    return CreateStartMenuLinks(m_szSetupPath);
}

void CSetupDlg::LaunchClient()
{
    // Started as an administrator one second after the run: only from the folder the run made.
    if (InstallFolderIntact())
        StartClient(m_szSetupPath);
    m_installFolder.Close();
}
