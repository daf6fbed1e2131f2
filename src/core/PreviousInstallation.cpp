#include <cwchar>

#include "core/SetupDlg.h"
#include "support/Format.h"
#include "support/Log.h"
#include "system/BackupRecord.h"

namespace {

// Puts the previous installation back in place of whatever a run left in the install folder. Should
// that fail, the record stays, and the next start tries again.
bool PutBack(const WCHAR* pszFolder, const WCHAR* pszBackup, const WCHAR* pszTag)
{
    if (GetFileAttributesW(pszFolder) != INVALID_FILE_ATTRIBUTES)
        CSetupDlg::DeleteDirectory(pszFolder);
    if (GetFileAttributesW(pszFolder) != INVALID_FILE_ATTRIBUTES || !MoveFileExW(pszBackup, pszFolder, 0)) {
        LogError(L"%s previous installation not restored from %s error=%lu", pszTag, pszBackup, GetLastError());
        return false;
    }
    ClearBackupRecord();
    LogNormal(L"%s previous installation restored from %s", pszTag, pszBackup);
    return true;
}

} // namespace

bool CSetupDlg::MoveAsidePreviousInstallation()
{
    m_szBackupPath[0] = L'\0';
    DWORD dwAttributes = GetFileAttributesW(m_szSetupPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return true;
    // A link or a file in its place holds no installation to keep: it goes as before, the link as itself.
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteDirectory(m_szSetupPath);
        return true;
    }
    WCHAR szBackup[MAX_PATH];
    if (!Format(szBackup, ARRAYSIZE(szBackup), L"%s.previous-%lu", m_szSetupPath, GetCurrentProcessId())) {
        LogError(L"[CSetupDlg::Execute] no room for the backup name of %s", m_szSetupPath);
        ShowError(L"安装失败");
        return false;
    }
    if (!WriteBackupRecord(m_szSetupPath, szBackup))
        LogError(L"[CSetupDlg::Execute] backup record not written: a killed run is not undone at the next start");
    // One rename on the same drive: the previous installation is whole either here or there.
    if (!MoveFileExW(m_szSetupPath, szBackup, 0)) {
        DWORD dwError = GetLastError();
        ClearBackupRecord();
        LogError(L"[CSetupDlg::Execute] move %s to %s failed error=%lu", m_szSetupPath, szBackup, dwError);
        ShowError(L"原安装目录正被使用，请关闭相关程序后重试");
        return false;
    }
    CopyString(m_szBackupPath, ARRAYSIZE(m_szBackupPath), szBackup);
    LogNormal(L"[CSetupDlg::Execute] previous installation %s kept as %s", m_szSetupPath, szBackup);
    return true;
}

void CSetupDlg::RestorePreviousInstallation()
{
    if (m_szBackupPath[0] != L'\0' && PutBack(m_szSetupPath, m_szBackupPath, L"[CSetupDlg::Run]"))
        m_szBackupPath[0] = L'\0';
}

void CSetupDlg::RemovePreviousInstallation()
{
    if (m_szBackupPath[0] == L'\0')
        return;
    // The record goes first: once the run is complete, a removal cut short must never bring the
    // previous installation back over the new one.
    ClearBackupRecord();
    if (DeleteDirectory(m_szBackupPath))
        LogNormal(L"[CSetupDlg::Run] previous installation %s removed", m_szBackupPath);
    else
        LogError(L"[CSetupDlg::Run] previous installation %s not removed completely", m_szBackupPath);
    m_szBackupPath[0] = L'\0';
}

void CSetupDlg::RecoverPreviousInstallation()
{
    WCHAR szFolder[MAX_PATH];
    WCHAR szBackup[MAX_PATH];
    if (m_szSetupPath[0] == L'\0' || !ReadBackupRecord(szFolder, szBackup))
        return;
    if (_wcsicmp(szFolder, m_szSetupPath) != 0) {
        LogError(L"[CSetupDlg::CSetupDlg] backup record for %s, not for %s: left alone", szFolder, m_szSetupPath);
        return;
    }
    if (GetFileAttributesW(szBackup) == INVALID_FILE_ATTRIBUTES) {
        ClearBackupRecord();
        LogNormal(L"[CSetupDlg::CSetupDlg] backup record without a backup %s: cleared", szBackup);
        return;
    }
    LogNormal(L"[CSetupDlg::CSetupDlg] an interrupted run left the previous installation in %s", szBackup);
    PutBack(m_szSetupPath, szBackup, L"[CSetupDlg::CSetupDlg]");
}
