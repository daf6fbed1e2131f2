#include "core/SetupDlg.h"

#include "support/GdiplusInc.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

#include "app/Globals.h"
#include "net/DownloadState.h"
#include "net/HttpDownload.h"
#include "res/resource.h"
#include "support/Format.h"
#include "support/Log.h"

namespace {
const int RECV_BUFFER_SIZE = 0xA00000; // 10 MiB: typical packages arrive without any reallocation
} // namespace

CSetupDlg::CSetupDlg(HWND hWndParent, const CGdiplusSession* pGdiplus)
    : CDialog(IDD_SETUP_DIALOG, hWndParent)
    , m_pRecvBuf(nullptr)
    , m_nRecvBufSize(0)
    , m_nRecvLen(0)
    , m_nRecvUsed(0)
    , m_nState(0)
    , m_nProgress(0)
    , m_pGdiplus(pGdiplus)
    , m_hHandCursor(nullptr)
    , m_bConfirmClose(TRUE)
{
    m_szSetupPath[0] = L'\0';
    m_szBackupPath[0] = L'\0';
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));

    ZeroMemory(m_szUnInstallPath, sizeof(m_szUnInstallPath));
    ZeroMemory(m_szTempPath, sizeof(m_szTempPath));
    SetRectEmpty(&m_rcClose);
    SetRectEmpty(&m_rcInstall);
    SetRectEmpty(&m_rcMinimize);
    SetRectEmpty(&m_rcAgree);

    m_pRecvBuf = new (std::nothrow) BYTE[RECV_BUFFER_SIZE]();
    if (m_pRecvBuf != nullptr)
        m_nRecvBufSize = RECV_BUFFER_SIZE;

    m_pImgReady = LoadJgpImage(IDR_JGP_READY);
    m_pImgSlide1 = LoadJgpImage(IDR_JGP_SLIDE1);
    m_pImgSlide2 = LoadJgpImage(IDR_JGP_SLIDE2);
    m_pImgSlide3 = LoadJgpImage(IDR_JGP_SLIDE3);
    m_pImgSlide4 = LoadJgpImage(IDR_JGP_SLIDE4);
    m_pImgFill = LoadJgpImage(IDR_JGP_FILL);
    m_pImgTrack = LoadJgpImage(IDR_JGP_TRACK);

    CopyString(m_szDriveRoot, ARRAYSIZE(m_szDriveRoot), L"C:\\");
    GetDestPath();
    // Not while another copy installs: what it keeps aside is its own to put back.
    if (m_installLock.TryAcquire()) {
        RecoverPreviousInstallation();
        m_installLock.Release();
    }

    m_hHandCursor = LoadCursorW(nullptr, IDC_HAND);

    ZeroMemory(m_szProxyUser, sizeof(m_szProxyUser));
    ZeroMemory(m_szProxyPassword, sizeof(m_szProxyPassword));

    m_setKinds.insert(1);
    m_setKinds.insert(IsPreferredFontInstalled() ? 2 : 3);
    m_bAgreed = 1;
}

CSetupDlg::~CSetupDlg()
{
    delete[] m_pRecvBuf;
    m_pRecvBuf = nullptr;
    m_vecPackages.clear();
    m_setKinds.clear();
    m_stcPercent.DestroyWindow();
    m_stcStatus.DestroyWindow();
}

void CSetupDlg::ClearRecvBuffer()
{
    if (m_pRecvBuf != nullptr && m_nRecvUsed > 0)
        memset(m_pRecvBuf, 0, static_cast<size_t>(std::min(m_nRecvUsed, m_nRecvBufSize)));
    m_nRecvUsed = 0;
}

void CSetupDlg::NoteRecvBufferUse(int nBytes)
{
    m_nRecvUsed = std::max(m_nRecvUsed, nBytes);
}

bool CSetupDlg::DownloadToRecvBuffer(const WCHAR* pszUrl, const WCHAR* pszName, long long llLimit)
{
    ClearRecvBuffer();
    m_nRecvLen = 0;
    // Never continued: the state is there so that a stop ends this download as well, and for the hash.
    m_fileDownload.Reset();
    m_fileDownload.SetStop(StopFlag());
    m_fileDownload.SetUnattended(m_bSilent ? &m_bProxyCredentialsAsked : nullptr);
    m_fileDownload.SetBodyLimit(llLimit);
    m_fileDownload.SetHashing(!g_strReleaseKey.empty());
    bool bDownloaded = HttpDownload(pszUrl, &m_pRecvBuf, &m_nRecvLen, &m_nRecvBufSize, m_szProxyUser, m_szProxyPassword,
                           GetSafeHwnd(), &m_fileDownload)
        != 0;
    // Even a failed download may have placed bytes in the block.
    NoteRecvBufferUse(m_nRecvLen);
    LogPastListedSize(pszName, m_fileDownload);
    return bDownloaded;
}

bool CSetupDlg::FetchReleaseFile(const WCHAR* pszName, bool& bRefused)
{
    bRefused = false;
    return AtEachBaseUrl(pszName, [&](const std::wstring& strUrl) {
        bool bDownloaded = DownloadToRecvBuffer(strUrl.c_str(), pszName, ListedLimit(pszName));
        if (StopRequested())
            return false;
        bRefused = RefusedByRelease(pszName, bDownloaded, m_fileDownload);
        return bDownloaded && !bRefused;
    });
}

bool CSetupDlg::AtEachBaseUrl(const WCHAR* pszName, const std::function<bool(const std::wstring& strUrl)>& attempt)
{
    for (size_t nBase = 0; nBase < BaseUrlCount(); ++nBase) {
        if (nBase > 0)
            LogFallback(BaseUrlAt(nBase - 1) + pszName, BaseUrlAt(nBase) + pszName);
        if (attempt(BaseUrlAt(nBase) + pszName))
            return true;
        if (StopRequested())
            return false;
    }
    return false;
}

void CSetupDlg::LogFallback(const std::wstring& strFrom, const std::wstring& strTo)
{
    LogNormal(L"[CSetupDlg::Execute] fallback from %s to %s", strFrom.c_str(), strTo.c_str());
}

void CSetupDlg::ShowError(const WCHAR* pszMessage)
{
    m_bConfirmClose = FALSE;
    // Called from the install threads: the label may be gone if the window is being destroyed.
    if (!m_stcStatus.IsWindowAlive())
        return;
    ShowWindow(m_stcStatus.GetSafeHwnd(), SW_SHOW);
    m_stcStatus.SetTextColor(RGB(255, 0, 0));
    SetWindowTextW(m_stcStatus.GetSafeHwnd(), pszMessage);
}
