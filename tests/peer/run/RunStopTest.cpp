#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"

// Stopping a run. Served: p01.zip and p02.zip (kind 1), or p01.zip alone; the scripted file server
// holds the download of p01.zip (or of filecrc.txt) until the test lets it go, so the stop request
// falls inside that download.

namespace {

const std::wstring INSTALLING = L"正在安装p01.zip ......";

class RunStopTest : public RunTest {
protected:
    // Once bReached and the download of strFile has reached the server: ask for a stop, then let
    // the download finish.
    void StopInside(const std::wstring& strFile, const std::function<bool()>& bReached)
    {
        bool bStopped = false;
        m_dlg->RunToEnd([&] {
            if (bStopped || !bReached())
                return;
            bStopped = true;
            ASSERT_EQ(200, ServerGet(L"arrived/" + strFile));
            m_dlg->RequestStop();
            ASSERT_EQ(200, ServerGet(L"release/" + strFile));
        });
        EXPECT_TRUE(bStopped);
    }
    void StopInsideTheFirstDownload()
    {
        StopInside(L"p01.zip", [&] { return m_dlg->Find(RunEvent::STATUS_TEXT, INSTALLING) != nullptr; });
    }
    // Stopped quietly: no message, the label as the run left it, closing would still ask, and
    // nothing configured, linked, registered or started.
    void ExpectStoppedQuietly()
    {
        ExpectThreadsEnded(1);
        EXPECT_EQ(std::vector<std::wstring> {INSTALLING}, m_dlg->StatusTexts());
        const RunEvent& shown = *m_dlg->Find(RunEvent::STATUS_TEXT, INSTALLING);
        EXPECT_NE(RGB(255, 0, 0), m_dlg->m_stcStatus.GetTextColor());
        EXPECT_EQ(shown.crStatus, m_dlg->m_stcStatus.GetTextColor());
        EXPECT_FALSE(GetWindowLongW(m_dlg->m_stcStatus.GetSafeHwnd(), GWL_STYLE) & WS_VISIBLE);
        EXPECT_TRUE(m_dlg->m_bConfirmClose.load());
        ExpectNoCompletion();
    }
    void ExpectStoppedWithoutMessage()
    {
        ExpectStoppedQuietly();
        EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p02.dat"));
        EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\UnInstall.exe"));
    }
};

TEST_F(RunStopTest, StopDuringADownloadTakesEffectBeforeTheNextPackage)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    EXPECT_EQ(std::vector<int> {47}, m_dlg->ProgressPosts()) << "the download under way is installed";
    EXPECT_TRUE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p01.dat"));
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(0u, records.back().strText.find(L"[CSetupDlg::Execute] download " + g_strBaseUrl + L"p01.zip sccuss"))
        << "a stop writes no record: " << Narrow(records.back().strText);
}

TEST_F(RunStopTest, StopDuringAFailingDownloadTakesEffectBeforeItsRetry)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    EXPECT_FALSE(FileExists(INSTALL_FOLDER));
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(L"[CSetupDlg::Execute] 1 download " + g_strBaseUrl + L"p01.zip failed", records.back().strText);
}

// With p01.zip the only package, no attempt follows its download to test the request.
TEST_F(RunStopTest, StopDuringTheLastPackageRegistersNothing)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    EXPECT_EQ(std::vector<int> {95}, m_dlg->ProgressPosts());
    EXPECT_TRUE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p01.dat"));
}

TEST_F(RunStopTest, StopDuringTheCheckRegistersNothing)
{
    StopInside(L"filecrc.txt", [&] { return m_dlg->ProgressPosts() == std::vector<int> {95, 97}; });

    ExpectStoppedQuietly();
    EXPECT_TRUE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\UnInstall.exe"));
    std::vector<LogRecord> records = ReadRunLog();
    EXPECT_LT(0, FindRecord(records, L"[CSetupDlg::CheckFileCRC] data\\p01.dat loacalCRC=")) << "the check passed";
    EXPECT_EQ(-1, FindRecord(records, L"[CSetupDlg::Execute] CheckFileCRC failed"));
}

// What the helper thread saw once the test's thread was inside the dialog's destruction.
struct Witness {
    HWND hWnd;
    HANDLE hRunner;
    bool bRunnerStillRunning = false;
    int nRelease = 0;
};

DWORD WINAPI ReleaseFromInsideTheDestruction(LPVOID pParam)
{
    Witness& witness = *static_cast<Witness*>(pParam);
    // Answered only when the test's thread handles sent messages again: inside the wait for the run.
    SendMessageW(witness.hWnd, WM_NULL, 0, 0);
    witness.bRunnerStillRunning = WaitForSingleObject(witness.hRunner, 0) == WAIT_TIMEOUT;
    witness.nRelease = ServerGet(L"release/p01.zip");
    return 0;
}

TEST_F(RunStopTest, DestroyingTheDialogDuringADownloadWaitsForBothThreads)
{
    ASSERT_TRUE(m_dlg->Start(0));
    m_dlg->PumpUntil([&] { return m_dlg->Find(RunEvent::STATUS_TEXT, INSTALLING) != nullptr; });
    ASSERT_EQ(200, ServerGet(L"arrived/p01.zip"));
    ASSERT_TRUE(m_dlg->WorkerFound());
    HANDLE hRunner = m_dlg->DuplicateRunnerHandle();
    HANDLE hWorker = m_dlg->DuplicateWorkerHandle();
    HWND hWitnessWnd = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    Witness witness = {hWitnessWnd, hRunner};

    m_dlg->RequestStop();
    HANDLE hHelper = CreateThread(nullptr, 0, ReleaseFromInsideTheDestruction, &witness, 0, nullptr);
    m_dlg.reset();

    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hRunner, 0)) << "the runner has ended";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(hWorker, 0)) << "the worker has ended";
    WaitForSingleObject(hHelper, INFINITE);
    EXPECT_TRUE(witness.bRunnerStillRunning) << "the destruction had a run to wait for";
    EXPECT_EQ(200, witness.nRelease);
    DWORD dwCode = 0;
    GetExitCodeThread(hWorker, &dwCode);
    EXPECT_EQ(1u, dwCode);
    GetExitCodeThread(hRunner, &dwCode);
    EXPECT_EQ(1u, dwCode);
    EXPECT_TRUE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p01.dat")) << "the download under way ended";
    EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p02.dat"));
    EXPECT_FALSE(ProbeMachine().bRegistry);
    for (HANDLE h : {hHelper, hWorker, hRunner})
        CloseHandle(h);
    DestroyWindow(hWitnessWnd);
}

} // namespace
