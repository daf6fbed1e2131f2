#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "core/SetupDlg.h"
#include "res/resource.h"
#include "support/GdiplusSession.h"
#include "support/Log.h"

namespace {

class SetupDlgTest : public testing::Test {
protected:
    void TearDown() override { g_szLogPath[0] = L'\0'; }
};

TEST_F(SetupDlgTest, ConstructionSettlesTheLocationOnDriveCAndStartsAFreshLog)
{
    // A log left by an earlier run is deleted when the next installer starts.
    CreateDirectoryW(L"C:\\temp", nullptr);
    const char stale[] = "stale";
    ASSERT_TRUE(WriteFileBytes(L"C:\\temp\\log.txt", stale, sizeof(stale)));

    CSetupDlg dlg;
    EXPECT_STREQ(L"C:\\", dlg.m_szDriveRoot);
    EXPECT_STREQ(L"C:\\Larkspire", dlg.m_szSetupPath);
    EXPECT_STREQ(L"C:\\UnInstall Larkspire", dlg.m_szUnInstallPath);
    EXPECT_STREQ(L"C:\\temp", dlg.m_szTempPath);
    EXPECT_STREQ(L"C:\\temp\\log.txt", g_szLogPath);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\temp"));

    std::wstring strLog = Utf16(ReadFileBytes(L"C:\\temp\\log.txt"));
    EXPECT_EQ(0u, strLog.find(L"[Normal]")) << "the new log starts with this run's first record";
    EXPECT_NE(std::wstring::npos, strLog.find(L"[CSetupDlg::GetDestPath] setuppath=C:\\Larkspire\r\n"));
    EXPECT_EQ(std::wstring::npos, strLog.find(L"stale"));
}

TEST_F(SetupDlgTest, ConstructionPreparesTheInstallerState)
{
    CSetupDlg dlg;
    ASSERT_NE(nullptr, dlg.m_pRecvBuf);
    EXPECT_EQ(10485760, dlg.m_nRecvBufSize);
    EXPECT_EQ(0, dlg.m_nRecvLen);
    EXPECT_EQ(0, dlg.m_pRecvBuf[0]);
    EXPECT_EQ(0, dlg.m_pRecvBuf[10485759]);
    EXPECT_EQ(0, dlg.m_nProgress.load());
    EXPECT_EQ(0, dlg.m_nState);
    EXPECT_TRUE(dlg.m_bConfirmClose);
    EXPECT_EQ(1, dlg.m_bAgreed);
    EXPECT_STREQ(L"", dlg.m_szProxyUser);
    EXPECT_STREQ(L"", dlg.m_szProxyPassword);
    EXPECT_TRUE(dlg.m_vecPackages.empty());
    ASSERT_EQ(2u, dlg.m_setKinds.size());
    EXPECT_EQ(1u, dlg.m_setKinds.count(1));
    EXPECT_EQ(CSetupDlg::IsPreferredFontInstalled() ? 1u : 0u, dlg.m_setKinds.count(2));
    EXPECT_EQ(CSetupDlg::IsPreferredFontInstalled() ? 0u : 1u, dlg.m_setKinds.count(3));
    EXPECT_NE(nullptr, dlg.m_hHandCursor);
}

TEST_F(SetupDlgTest, ClientConfigurationGetsTheVersionAndKeepsEverythingElse)
{
    CSetupDlg dlg;
    std::wstring folder = MakeTempFolder(L"config");
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\config").c_str(), nullptr));
    const char existing[] = "[Server]\r\nHost=example.invalid\r\n[Client]\r\nVersion=123\r\nLanguage=zh\r\n";
    ASSERT_TRUE(WriteFileBytes(folder + L"\\config\\ORB.System.config", existing, sizeof(existing) - 1));
    wcscpy(dlg.m_szSetupPath, folder.c_str());

    dlg.WriteClientConfig(0);
    std::wstring strConfig = folder + L"\\config\\ORB.System.config";
    WCHAR szValue[32] = {};
    GetPrivateProfileStringW(L"Client", L"Version", L"", szValue, 32, strConfig.c_str());
    EXPECT_STREQ(L"000", szValue);
    GetPrivateProfileStringW(L"Client", L"Language", L"", szValue, 32, strConfig.c_str());
    EXPECT_STREQ(L"zh", szValue);
    GetPrivateProfileStringW(L"Server", L"Host", L"", szValue, 32, strConfig.c_str());
    EXPECT_STREQ(L"example.invalid", szValue);

    dlg.WriteClientConfig(7);
    GetPrivateProfileStringW(L"Client", L"Version", L"", szValue, 32, strConfig.c_str());
    EXPECT_STREQ(L"007", szValue);
    dlg.WriteClientConfig(1234);
    GetPrivateProfileStringW(L"Client", L"Version", L"", szValue, 32, strConfig.c_str());
    EXPECT_STREQ(L"1234", szValue);
}

TEST_F(SetupDlgTest, ClientConfigurationIsNotWrittenWithoutTheConfigFolder)
{
    CSetupDlg dlg;
    std::wstring folder = MakeTempFolder(L"noconfig");
    wcscpy(dlg.m_szSetupPath, folder.c_str());
    dlg.WriteClientConfig(0);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"\\config").c_str()));
}

TEST_F(SetupDlgTest, ShowErrorClearsTheConfirmationAndShowsTheMessageInRed)
{
    CSetupDlg dlg;
    dlg.ShowError(L"without a window");
    EXPECT_FALSE(dlg.m_bConfirmClose) << "a failure shown with no label still ends the confirmation";

    HWND hParent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hParent);
    RECT rc = {34, 324, 494, 342};
    ASSERT_TRUE(dlg.m_stcStatus.Create(L"", SS_CENTER, rc, hParent, IDC_STATIC_STATUS));
    dlg.m_bConfirmClose = TRUE;
    dlg.ShowError(L"下载Setupconfig.txt失败");
    EXPECT_FALSE(dlg.m_bConfirmClose);
    EXPECT_EQ(RGB(255, 0, 0), dlg.m_stcStatus.GetTextColor());
    EXPECT_NE(0, GetWindowLongW(dlg.m_stcStatus.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE);
    WCHAR szText[64] = {};
    GetWindowTextW(dlg.m_stcStatus.GetSafeHwnd(), szText, 64);
    EXPECT_STREQ(L"下载Setupconfig.txt失败", szText);
    dlg.m_stcStatus.DestroyWindow();
    DestroyWindow(hParent);
}

// Set by the hook below when the window is told it is minimised. Wine 10 with no window manager may
// give the window back at once, before a look at IsIconic from another thread sees it minimised.
std::atomic<bool> s_bToldMinimised {false};

LRESULT CALLBACK WatchMinimise(int nCode, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* pMsg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_SIZE && pMsg->wParam == SIZE_MINIMIZED)
        s_bToldMinimised = true;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

// What the helper thread saw while it used the buttons of a window that has no image.
struct ButtonRun {
    CSetupDlg* pDlg;
    bool bMinimised = false;
    bool bRestored = false;
    std::wstring strStatus;
};

bool WaitUntil(const std::function<bool()>& bDone)
{
    for (ULONGLONG ullEnd = GetTickCount64() + 60000; GetTickCount64() < ullEnd; Sleep(50)) {
        if (bDone())
            return true;
    }
    return false;
}

// Clicks minimise, then install (the run fails at the manifest: no server listens), then close,
// each as a release of the left button inside the button's rectangle.
DWORD WINAPI UseButtons(LPVOID pParam)
{
    ButtonRun& run = *static_cast<ButtonRun*>(pParam);
    HWND hWnd = nullptr;
    if (!WaitUntil([&] { return (hWnd = run.pDlg->GetSafeHwnd()) != nullptr && IsWindowVisible(hWnd); }))
        return 1;
    PostMessageW(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(485, 16));
    run.bMinimised = WaitUntil([&] { return s_bToldMinimised || IsIconic(hWnd) != FALSE; });
    ShowWindowAsync(hWnd, SW_RESTORE);
    run.bRestored = WaitUntil([&] { return !IsIconic(hWnd); });
    PostMessageW(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(270, 311));
    WaitUntil([&] {
        WCHAR szText[64] = {};
        GetWindowTextW(run.pDlg->m_stcStatus.GetSafeHwnd(), szText, ARRAYSIZE(szText));
        run.strStatus = szText;
        return !run.strStatus.empty();
    });
    PostMessageW(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(515, 16));
    return 0;
}

TEST_F(SetupDlgTest, WithoutGdiplusTheWindowIsBuiltWithoutImagesAndItsButtonsWork)
{
    {
        CGdiplusSession gdiplus;
        ASSERT_TRUE(gdiplus.Started());
        EXPECT_NE(nullptr, CSetupDlg(nullptr, &gdiplus).m_pImgReady.get()) << "with GDI+ started the images load";
    }

    // Without a session the window is as with one that failed to start: no images.
    CSetupDlg dlg;
    for (Gdiplus::Image* pImage : {dlg.m_pImgReady.get(), dlg.m_pImgSlide1.get(), dlg.m_pImgSlide2.get(),
             dlg.m_pImgSlide3.get(), dlg.m_pImgSlide4.get(), dlg.m_pImgTrack.get(), dlg.m_pImgFill.get()})
        EXPECT_EQ(nullptr, pImage);
    ButtonRun run;
    run.pDlg = &dlg;
    s_bToldMinimised = false;
    HHOOK hHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchMinimise, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hHook);
    HANDLE hHelper = CreateThread(nullptr, 0, UseButtons, &run, 0, nullptr);
    ASSERT_NE(nullptr, hHelper);

    EXPECT_EQ(IDCANCEL, dlg.DoModal()) << "the close button ends the window";
    WaitForSingleObject(hHelper, INFINITE);
    CloseHandle(hHelper);
    UnhookWindowsHookEx(hHook);
    EXPECT_TRUE(run.bMinimised);
    EXPECT_TRUE(run.bRestored);
    EXPECT_EQ(1, dlg.m_nState) << "the install button started a run";
    EXPECT_EQ(L"下载Setupconfig.txt失败", run.strStatus);
}

} // namespace

namespace {

TEST(ReceiveBufferTest, EachFileReadFindsTheBufferZeroedPastItsOwnBytes)
{
    CSetupDlg dlg;
    std::wstring folder = MakeTempFolder(L"recvbuf");
    std::vector<BYTE> large(12 * 1024 * 1024, 0xAB);
    ASSERT_TRUE(WriteFileBytes(folder + L"\\large.bin", large.data(), large.size()));
    const char small[] = "small file";
    ASSERT_TRUE(WriteFileBytes(folder + L"\\small.bin", small, 10));
    wcscpy(dlg.m_szSetupPath, folder.c_str());

    EXPECT_NE(0u, dlg.GetFileCRC(L"large.bin"));
    ASSERT_EQ(12 * 1024 * 1024 + 10, dlg.m_nRecvBufSize) << "the buffer grows to the file plus 10 bytes";
    EXPECT_EQ(0xAB, dlg.m_pRecvBuf[12 * 1024 * 1024 - 1]);

    EXPECT_NE(0u, dlg.GetFileCRC(L"small.bin"));
    EXPECT_EQ(12 * 1024 * 1024 + 10, dlg.m_nRecvBufSize) << "and is not shrunk";
    EXPECT_EQ(0, memcmp(dlg.m_pRecvBuf, small, 10));
    std::vector<BYTE> zeros(static_cast<size_t>(dlg.m_nRecvBufSize) - 10, 0);
    EXPECT_EQ(0, memcmp(dlg.m_pRecvBuf + 10, zeros.data(), zeros.size()));

    dlg.ClearRecvBuffer();
    EXPECT_EQ(0, dlg.m_pRecvBuf[0]);
    EXPECT_EQ(0, dlg.m_pRecvBuf[9]);
}

} // namespace
