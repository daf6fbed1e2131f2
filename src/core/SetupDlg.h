#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/PackageEntry.h"
#include "core/ReleaseCheck.h"
#include "core/SetupExitCodes.h"
#include "framework/Dialog.h"
#include "net/DownloadState.h"
#include "support/Handles.h"
#include "support/WorkThread.h"
#include "system/InstallLock.h"
#include "ui/MsgStatic.h"

class CGdiplusSession;
struct CPackageDownload;

namespace Gdiplus {
class Image;
}

enum {
    WM_SETUP_PROGRESS = WM_USER + 100,
    WM_SETUP_ARM_LAUNCH = WM_USER + 101, // the runner asks the window's thread to set the launch timer
    WM_SETUP_RUN_ENDED = WM_USER + 102, // the runner has ended: the window's thread lets the install lock go
    IDT_LAUNCH_CLIENT = 0x1234,
};

// The installer window, the holder of all installer state, and the thread object of the install run.
class CSetupDlg : public CDialog, public CWorkThread {
public:
    // pGdiplus: the session the window draws with, which outlives the object; without one, or one that
    // did not start, no image is made and the window paints nothing of its own.
    explicit CSetupDlg(HWND hWndParent = nullptr, const CGdiplusSession* pGdiplus = nullptr);
    ~CSetupDlg() override;

    // Installer core: manifest, run, extraction, check, uninstaller, location, configuration.
    bool Execute(int* pnCount);
    int ParsePackageList(const std::wstring& strText);
    void ShowError(const WCHAR* pszMessage);
    DWORD Run() override;
    static DWORD WINAPI InstallThreadProc(LPVOID pParam);
    void UpdateProgressText();
    // Extracts every item; a set *pbStop ends the extraction between two items, as failed.
    static BOOL UnZip(const WCHAR* pszArchive, const WCHAR* pszFolder, const std::atomic<bool>* pbStop = nullptr);
    // The same from the archive's bytes in memory (the ones received and checked), which pszArchive
    // names in the records. A failure for want of space on the drive sets *pbDiskFull.
    static BOOL UnZipBlock(const BYTE* pbArchive, int cbArchive, const WCHAR* pszArchive, const WCHAR* pszFolder,
        const std::atomic<bool>* pbStop = nullptr, bool* pbDiskFull = nullptr);
    static BOOL DeleteDirectory(const WCHAR* pszFolder);
    BOOL CheckFileCRC();
    DWORD GetFileCRC(const WCHAR* pszName);
    BOOL DownloadUninstallFile();
    void GetDestPath();
    void WriteClientConfig(int nVersion);
    // Zeroes the receive buffer, as every download and file read expects it. Bytes past what the
    // last uses placed there are still zero, so only that part is cleared: once a large package has
    // grown the block, clearing all of it before each small file would cost more than the files.
    void ClearRecvBuffer();
    // Records that the first nBytes of the receive buffer may now hold data.
    void NoteRecvBufferUse(int nBytes);
    // Fetches the URL of the release's file pszName into the cleared receive buffer, with the
    // remembered proxy credentials and the dialog window as owner; true for a complete body. A body
    // longer than llLimit bytes (when not negative) fails at the first byte too many, and
    // m_fileDownload.m_bPastLimit says so. With a key the body is hashed as it arrives.
    bool DownloadToRecvBuffer(const WCHAR* pszUrl, const WCHAR* pszName, long long llLimit = -1);
    // One of the release's files (manifest, CRC list, uninstaller) into the receive buffer: from the
    // first base URL, and after a failure, or with a key a body the signed list refuses, from each
    // next one in turn. False when none gave it; bRefused then tells that the last body was refused.
    bool FetchReleaseFile(const WCHAR* pszName, bool& bRefused);
    // Calls attempt with pszName at each base URL in turn until one succeeds or a stop is asked for;
    // each turn to the next base URL is recorded.
    bool AtEachBaseUrl(const WCHAR* pszName, const std::function<bool(const std::wstring& strUrl)>& attempt);
    // The next attempt goes to another base URL: recorded with both URLs.
    static void LogFallback(const std::wstring& strFrom, const std::wstring& strTo);
    // Sets up the package at nIndex of the manifest's nCount entries for its first attempt.
    void BeginPackage(int nIndex, int nCount, CPackageDownload& package);
    // Fetches the package into the receive buffer: the rest of a body that the package's previous
    // attempt broke off, or a whole one, with the progress following its bytes within the package's
    // share.
    bool DownloadPackage(const WCHAR* pszUrl, CPackageDownload& package);
    // After a failed attempt at a package: the next one goes to the next base URL, unless this one
    // broke off a body it can continue, which only the server that sent its first part may do.
    void NextPackageBase(const WCHAR* pszName, CPackageDownload& package);

    // Signed releases, in a build with a release key; without one each passes at once.
    // The most bytes the named file's body may have: its listed size, -1 without a key or a line.
    long long ListedLimit(const WCHAR* pszName) const;
    // Fetches release.sha256 and its signature from the first base URL that gives a list the key
    // signs and whose terms admit it here (no older than the installed release, not expired); when
    // none does, the release is refused.
    bool FetchReleaseList();
    // The list at strUrl, its signature and its terms; false with the message a refusal shows.
    bool AcceptReleaseList(const std::wstring& strUrl, std::wstring& strMessage);
    // The received body, which state fetched, is the one the signed list names (logged either way).
    bool ReceivedMatchesRelease(const WCHAR* pszName, CDownloadState& state);
    // What a download by state brought for pszName is refused by the signed list: a body longer than
    // listed (downloaded or not), or a downloaded one that does not match its line.
    bool RefusedByRelease(const WCHAR* pszName, bool bDownloaded, CDownloadState& state);
    // Records a body longer than its listed size, if the last download by state met one.
    static void LogPastListedSize(const WCHAR* pszName, const CDownloadState& state);
    // Every package the manifest names has a line; a missing one refuses the release.
    bool ReleaseListsEveryPackage();
    // Shows the red message of a refused release and notes the refusal for the steps that follow.
    void RefuseRelease(const WCHAR* pszMessage = L"安装包签名无效");

    // The previous installation, kept beside the install folder until the run is complete.
    // Moves it aside where the run used to delete it; false (shown and logged) when it cannot be moved.
    bool MoveAsidePreviousInstallation();
    // After a failed or stopped run: what the run put in the install folder goes, the previous one returns.
    void RestorePreviousInstallation();
    // After a complete run.
    void RemovePreviousInstallation();
    // At start: puts back what a run that was killed or lost its power left aside.
    void RecoverPreviousInstallation();
    // Creates the install folder new, with a security of its own, and holds it for the run; false
    // (shown and logged) when a link stays in its place or the folder cannot be made.
    bool MakeInstallFolder();
    // The install folder is still the one MakeInstallFolder made; false (shown and logged) otherwise.
    bool InstallFolderIntact();

    // Unattended (/S): the run of a click on the install button on the calling thread, with no window,
    // message or dialog; the client is started only with bLaunch. Returns the exit code.
    DWORD InstallSilently(bool bLaunch);
    // What the process ends with: SETUP_EXIT_USER_STOPPED until a run has ended.
    DWORD ExitCode() const { return m_dwExitCode; }

    // System integration.
    void WriteRegistry();
    int SetStartShellLink();
    void LaunchClient();

    // Window side.
    static bool IsPreferredFontInstalled();

protected:
    BOOL OnInitDialog() override;
    bool WindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

    void OnPaint();
    bool OnNcHitTest(POINT ptScreen, LRESULT& lResult);
    void OnMouseMove(POINT pt);
    bool OnLButtonUp(POINT pt);
    void OnCloseButton();
    void OnInstallButton();
    void OnLaunchTimer();
    void OnNcDestroy();

private:
    DWORD InstallPackages();
    void PostProgress();
    static void OnPackageBytes(void* pContext, DWORD dwHeld, DWORD dwTotal);
    void SetStatusText(const WCHAR* pszText);
    void ShowErrorFormat(const WCHAR* pszFormat, const WCHAR* pszName);
    void ArmLaunchTimer();
    void PostRunEnded();
    bool GdiplusStarted() const;
    // The skin image of that JGP resource; null without GDI+ or when it cannot be read.
    std::unique_ptr<Gdiplus::Image> LoadJgpImage(UINT nID) const;
    void ReleaseImages();
    // The exit code of a failed run, from what its steps noted.
    DWORD FailureExitCode() const;

public:
    // Shared receive buffer: every download and the CRC computation; replaced only by a larger block.
    BYTE* m_pRecvBuf;
    int m_nRecvBufSize;
    int m_nRecvLen;
    int m_nRecvUsed; // leading bytes of the block that may be non-zero

    WCHAR m_szSetupPath[MAX_PATH];
    WCHAR m_szUnInstallPath[MAX_PATH];
    WCHAR m_szDriveRoot[MAX_PATH];
    WCHAR m_szBackupPath[MAX_PATH]; // empty while no previous installation waits aside
    CInstallLock m_installLock;
    CFileHandle m_installFolder; // held from its creation until the client is started or the run failed

    HICON m_hIcon;
    RECT m_rcClose;
    RECT m_rcInstall;
    RECT m_rcMinimize;
    RECT m_rcAgree;
    int m_nState; // 0 ready, 1 installing

    // Written by the install run's threads, read by the window thread when it paints.
    std::atomic<int> m_nProgress;
    WCHAR m_szTempPath[MAX_PATH];

    const CGdiplusSession* m_pGdiplus;
    // Released when the window is destroyed, at the latest with the object: before the session ends.
    std::unique_ptr<Gdiplus::Image> m_pImgReady;
    std::unique_ptr<Gdiplus::Image> m_pImgSlide1;
    std::unique_ptr<Gdiplus::Image> m_pImgSlide2;
    std::unique_ptr<Gdiplus::Image> m_pImgSlide3;
    std::unique_ptr<Gdiplus::Image> m_pImgSlide4;
    std::unique_ptr<Gdiplus::Image> m_pImgTrack;
    std::unique_ptr<Gdiplus::Image> m_pImgFill;

    MsgStatic m_stcPercent;
    MsgStatic m_stcStatus;
    CGdiObject m_font; // the labels' font
    HCURSOR m_hHandCursor;

    std::atomic<BOOL> m_bConfirmClose;
    WCHAR m_szProxyUser[64];
    WCHAR m_szProxyPassword[64];
    std::set<int> m_setKinds;
    std::vector<PackageEntry> m_vecPackages;
    CReleaseCheck m_release;
    CDownloadState m_fileDownload; // the downloads of DownloadToRecvBuffer, never continued
    bool m_bReleaseRefused = false; // a served file was refused: the run fails with the release's message
    bool m_bPackageRefused = false; // the last attempt at a package that failed the run was refused by its hash
    bool m_bSilent = false; // no window: no dialog may be shown, the desktop link is the public one
    std::atomic<bool> m_bDiskFull {false}; // a write of the run failed for want of space
    std::atomic<bool> m_bProxyCredentialsAsked {false}; // an unattended download met a proxy asking for them
    std::atomic<DWORD> m_dwExitCode {SETUP_EXIT_USER_STOPPED};
    BYTE m_bAgreed;
};
