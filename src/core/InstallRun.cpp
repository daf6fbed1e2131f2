#include "core/SetupDlg.h"

#include <cstring>

#include "app/Globals.h"
#include "core/PackageDownload.h"
#include "core/rules/Names.h"
#include "support/FileWrite.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "support/WideText.h"
#include "system/ClientProcess.h"
#include "system/ShellLinks.h"

namespace {

const int MAX_ATTEMPTS = 5;
// The runner notes a worker that runs this long, then keeps waiting: a slow link may need longer,
// and each network step of the worker is bounded by its own time-outs.
const DWORD WORKER_NOTICE_MS = 300000;

} // namespace

void CSetupDlg::UpdateProgressText()
{
    WCHAR szPercent[16];
    Format(szPercent, ARRAYSIZE(szPercent), L"%d%%", m_nProgress.load());
    if (m_stcPercent.IsWindowAlive())
        SetWindowTextW(m_stcPercent.GetSafeHwnd(), szPercent);
    if (HWND hWnd = GetSafeHwnd())
        InvalidateRect(hWnd, nullptr, FALSE);
}

void CSetupDlg::PostRunEnded()
{
    if (HWND hWnd = GetSafeHwnd())
        PostMessageW(hWnd, WM_SETUP_RUN_ENDED, 0, 0);
}

void CSetupDlg::PostProgress()
{
    // With no window, PostMessage would post to this thread's own queue instead.
    if (HWND hWnd = GetSafeHwnd())
        PostMessageW(hWnd, WM_SETUP_PROGRESS, 0, 0);
}

void CSetupDlg::SetStatusText(const WCHAR* pszText)
{
    if (m_stcStatus.IsWindowAlive())
        SetWindowTextW(m_stcStatus.GetSafeHwnd(), pszText);
}

void CSetupDlg::ShowErrorFormat(const WCHAR* pszFormat, const WCHAR* pszName)
{
    WCHAR szMessage[64];
    Format(szMessage, ARRAYSIZE(szMessage), pszFormat, pszName);
    ShowError(szMessage);
}

DWORD WINAPI CSetupDlg::InstallThreadProc(LPVOID pParam)
{
    CSetupDlg* pDlg = static_cast<CSetupDlg*>(pParam);
    try {
        return pDlg->InstallPackages();
    } catch (...) {
        // Out of memory in the package list, for instance: a failed run, shown as one.
        LogError(L"[CSetupDlg::Execute] install stopped by an unexpected error");
        pDlg->ShowError(L"安装失败");
        return 1;
    }
}

DWORD CSetupDlg::InstallPackages()
{
    m_nProgress = 0;
    ClearRecvBuffer();
    m_nRecvLen = 0;

    // Without a drive list there is no install folder: archives and files would land wherever the
    // process happens to stand.
    if (m_szSetupPath[0] == L'\0') {
        LogError(L"[CSetupDlg::Execute] no install folder");
        ShowError(L"安装失败");
        return 1;
    }

    int nCount = 0;
    if (!Execute(&nCount))
        return 1;

    // The last run's folder is no longer held: this run moves it aside or removes it.
    m_installFolder.Close();
    if (!MoveAsidePreviousInstallation() || !MakeInstallFolder())
        return 1;

    int nIndex = 0;
    int nAttempts = 0;
    CPackageDownload package;
    while (nIndex < nCount) {
        if (StopRequested())
            return 1;

        const PackageEntry entry = m_vecPackages[static_cast<size_t>(nIndex)];
        if (m_setKinds.count(entry.nKind) == 0 || entry.szName[0] == L'\0') {
            ++nIndex;
            nAttempts = 0;
            continue;
        }

        WCHAR szStatus[64];
        if (Format(szStatus, ARRAYSIZE(szStatus), L"正在安装%s ......", entry.szName))
            SetStatusText(szStatus);

        if (package.nIndex != nIndex)
            BeginPackage(nIndex, nCount, package);
        WCHAR szUrl[MAX_PATH];
        WCHAR szArchive[MAX_PATH];
        // The archive is written wherever the name leads: one that leaves the temporary folder fails
        // the attempt, as a path that does not fit does, before anything is fetched.
        const bool bNameInside = IsNameInsideFolder(AsU16(entry.szName));
        if (!bNameInside || !Format(szUrl, ARRAYSIZE(szUrl), L"%s%s", BaseUrlAt(package.nBase).c_str(), entry.szName)
            || !Format(szArchive, ARRAYSIZE(szArchive), L"%s\\%s", m_szTempPath, entry.szName)) {
            const WCHAR* pszWhy = bNameInside ? L"path too long" : L"name outside the temp folder";
            if (++nAttempts >= MAX_ATTEMPTS) {
                ShowErrorFormat(L"安装%s失败", entry.szName);
                LogError(L"[CSetupDlg::Execute] %s %s", entry.szName, pszWhy);
                return 1;
            }
            LogError(L"[CSetupDlg::Execute] %d %s %s", nAttempts, entry.szName, pszWhy);
            // Another base URL may be shorter; no other one makes the name any better.
            if (bNameInside)
                NextPackageBase(entry.szName, package);
            continue;
        }

        bool bDownloaded = DownloadPackage(szUrl, package);
        // A stop ends the download under way; what it held is dropped with the run.
        if (StopRequested())
            return 1;
        const bool bRefused = RefusedByRelease(entry.szName, bDownloaded, package.state);
        bDownloaded = bDownloaded && !bRefused;
        if (!bDownloaded) {
            if (++nAttempts >= MAX_ATTEMPTS) {
                // The last attempt's verdict names the failure: a body the signed list refused, or none.
                m_bPackageRefused = bRefused;
                ShowErrorFormat(L"下载%s失败", entry.szName);
                LogError(L"[CSetupDlg::Execute] download %s failed", entry.szName);
                return 1;
            }
            LogError(L"[CSetupDlg::Execute] %d download %s failed", nAttempts, szUrl);
            NextPackageBase(entry.szName, package);
            continue;
        }
        LogNormal(L"[CSetupDlg::Execute] download %s sccuss filesize=%ld", szUrl, static_cast<long>(m_nRecvLen));

        // The folder may have been replaced while the package was downloading.
        if (!InstallFolderIntact())
            return 1;
        // Made new and shared with readers only; deleted through its handle once extracted. One that failed
        // to extract stays for a look at it.
        CFileHandle archive = CreateFreshFile(szArchive, GENERIC_WRITE, 0);
        DWORD dwError = archive ? NO_ERROR : GetLastError();
        if (archive && !WriteAll(archive.Get(), m_pRecvBuf, static_cast<DWORD>(m_nRecvLen))) {
            dwError = GetLastError();
            archive.Close();
        }
        if (!archive) {
            int nError = static_cast<int>(dwError);
            if (IsDiskFullError(dwError))
                m_bDiskFull = true;
            if (++nAttempts >= MAX_ATTEMPTS) {
                ShowErrorFormat(L"安装%s失败", entry.szName);
                LogNormal(L"[CSetupDlg::Execute] %s CreateFile(%s) Error(%d)", entry.szName, szArchive, nError);
                return 1;
            }
            LogNormal(L"[CSetupDlg::Execute] %d CreateFile(%s) Error(%d)", nAttempts, szArchive, nError);
            continue;
        }
        // From the bytes that were received and checked: the file just written is only a copy in
        // the temporary folder, where another user could replace it before it is read again.
        bool bDiskFull = false;
        if (!UnZipBlock(m_pRecvBuf, m_nRecvLen, szArchive, m_szSetupPath, StopFlag(), &bDiskFull)) {
            if (bDiskFull)
                m_bDiskFull = true;
            if (StopRequested()) {
                DeleteThroughHandle(archive.Get());
                return 1;
            }
            if (++nAttempts >= MAX_ATTEMPTS) {
                ShowErrorFormat(L"安装%s失败", entry.szName);
                return 1;
            }
            // An archive that does not extract may be a server's fault.
            NextPackageBase(entry.szName, package);
            continue;
        }
        DeleteThroughHandle(archive.Get());
        archive.Close();
        ++nIndex;
        nAttempts = 0;
        m_nProgress = PackageEndProgress(nIndex, nCount);
        PostProgress();
    }

    // The loop tests the stop request only before an attempt: a stop confirmed during the last
    // package, the uninstaller download or the check ends the run as well.
    if (StopRequested())
        return 1;
    // A replaced uninstaller is refused, and with it the run: nothing may register it.
    if (!DownloadUninstallFile() && m_bReleaseRefused)
        return 1;
    if (StopRequested())
        return 1;
    m_nProgress = 97;
    PostProgress();

    if (!InstallFolderIntact())
        return 1;
    if (CheckFileCRC())
        return StopRequested() ? 1 : 0;
    if (StopRequested())
        return 1;
    LogNormal(L"[CSetupDlg::Execute] CheckFileCRC failed");
    if (!m_bReleaseRefused)
        ShowError(L"校验失败");
    return 1;
}

DWORD CSetupDlg::Run()
{
    CKernelHandle worker(CreateThread(nullptr, 0, InstallThreadProc, this, 0, nullptr));
    if (!worker) {
        LogError(L"[CSetupDlg::Run] CreateThread error=%lu", GetLastError());
        ShowError(L"安装失败");
        m_dwExitCode = SETUP_EXIT_FAILED;
        PostRunEnded();
        return 1;
    }
    // The completion steps and the window's closing must never overlap a worker that still uses
    // the dialog's state, so the runner waits for the worker to end, however long that takes.
    if (WaitForSingleObject(worker.Get(), WORKER_NOTICE_MS) == WAIT_TIMEOUT) {
        LogNormal(L"[CSetupDlg::Run] install still running after %lu ms", WORKER_NOTICE_MS);
        WaitForSingleObject(worker.Get(), INFINITE);
    }
    DWORD dwStatus = 1;
    GetExitCodeThread(worker.Get(), &dwStatus);
    // A failed or stopped run registers nothing and starts nothing: its message stays in red, and the
    // previous installation is back. A stop confirmed after the worker's last test counts as well.
    if (dwStatus == 0 && !StopRequested() && !InstallFolderIntact())
        dwStatus = 1;
    if (dwStatus != 0 || StopRequested()) {
        // Held without delete sharing, the folder could be neither removed nor replaced by the backup.
        m_installFolder.Close();
        RestorePreviousInstallation();
        m_dwExitCode = StopRequested() ? SETUP_EXIT_USER_STOPPED : FailureExitCode();
        PostRunEnded();
        return 1;
    }

    WriteClientConfig(0);
    WCHAR szTarget[MAX_PATH];
    WCHAR szIcon[MAX_PATH];
    if (Format(szTarget, ARRAYSIZE(szTarget), L"%s/" CLIENT_PROGRAM_NAME, m_szSetupPath)
        && Format(szIcon, ARRAYSIZE(szIcon), L"%s/favicon.ico", m_szSetupPath))
        CreateDesktopLink(g_szDisplayName, m_szSetupPath, szTarget, szIcon, m_bSilent);
    SetStartShellLink();
    m_nProgress = 100;
    UpdateProgressText();
    WriteRegistry();
    RemovePreviousInstallation();
    m_dwExitCode = SETUP_EXIT_INSTALLED;
    ArmLaunchTimer();
    PostRunEnded();
    return 1;
}

DWORD CSetupDlg::FailureExitCode() const
{
    if (m_bReleaseRefused || m_bPackageRefused)
        return SETUP_EXIT_RELEASE_REFUSED;
    if (m_bProxyCredentialsAsked)
        return SETUP_EXIT_PROXY_CREDENTIALS;
    if (m_bDiskFull)
        return SETUP_EXIT_DISK_FULL;
    return SETUP_EXIT_FAILED;
}

DWORD CSetupDlg::InstallSilently(bool bLaunch)
{
    m_bSilent = true;
    LogNormal(L"[CSetupDlg::InstallSilently] unattended install launch=%d", bLaunch ? 1 : 0);
    if (FindProcess(L"" CLIENT_PROGRAM_NAME, m_szSetupPath)) {
        LogNormal(L"[CSetupDlg::InstallSilently] the client runs from the install folder: nothing changed");
        return m_dwExitCode = SETUP_EXIT_CLIENT_RUNNING;
    }
    if (!m_installLock.TryAcquire()) {
        LogNormal(L"[CSetupDlg::InstallSilently] another copy of the installer is installing");
        return m_dwExitCode = SETUP_EXIT_ANOTHER_INSTALL;
    }
    // The runner on this thread: it waits for the worker as the window's runner thread does.
    Run();
    m_installLock.Release();
    if (m_dwExitCode == SETUP_EXIT_INSTALLED && bLaunch)
        LaunchClient();
    m_installFolder.Close();
    LogNormal(L"[CSetupDlg::InstallSilently] exit code=%lu", m_dwExitCode.load());
    return m_dwExitCode;
}
