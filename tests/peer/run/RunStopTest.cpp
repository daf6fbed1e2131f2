#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"

// Stopping a run over a previous installation. Served: p01.zip and p02.zip (kind 1), or p01.zip alone;
// the scripted file server holds the download of p01.zip (or of filecrc.txt) until the test lets it
// go, so the stop request falls inside that download: it ends there, and the previous installation
// is back as it was.

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
        MakeOldInstallation();
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
        EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_USER_STOPPED), m_dlg->ExitCode());
    }
    void ExpectStoppedWithoutMessage()
    {
        ExpectStoppedQuietly();
        ExpectOldInstallationBack();
        std::vector<LogRecord> records = ReadRunLog();
        EXPECT_LT(FindRecord(records, L"[CSetupDlg::Execute] previous installation C:\\Larkspire kept as"),
            FindRecord(records, L"[CSetupDlg::Run] previous installation restored from C:\\Larkspire.previous-"));
    }
    // The download under way ended at the stop: nothing of it was written or extracted.
    void ExpectDownloadDropped()
    {
        EXPECT_TRUE(m_dlg->ProgressPosts().empty());
        EXPECT_GE(FindRecord(ReadRunLog(), L"[HttpDownload  InternetReadFile]  stopped size="), 0);
        EXPECT_FALSE(FileExists(std::wstring(TEMP_FOLDER) + L"\\p01.zip"));
    }
};

TEST_F(RunStopTest, StopDuringADownloadEndsItAndTheRun)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    ExpectDownloadDropped();
}

TEST_F(RunStopTest, StopDuringAFailingDownloadEndsTheRunWithoutARetry)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    EXPECT_EQ(-1, FindRecord(ReadRunLog(), L"[CSetupDlg::Execute] 1 download")) << "a stopped attempt is no attempt";
}

// With p01.zip the only package, no attempt follows its download to test the request.
TEST_F(RunStopTest, StopDuringTheLastPackageRegistersNothing)
{
    StopInsideTheFirstDownload();

    ExpectStoppedWithoutMessage();
    ExpectDownloadDropped();
}

TEST_F(RunStopTest, StopDuringTheCheckRegistersNothing)
{
    MakeOldInstallation();
    StopInside(L"filecrc.txt", [&] { return m_dlg->ProgressPosts() == std::vector<int> {95, 97}; });

    ExpectStoppedQuietly();
    ExpectOldInstallationBack();
    std::vector<LogRecord> records = ReadRunLog();
    EXPECT_EQ(-1, FindRecord(records, L"[CSetupDlg::CheckFileCRC] data\\p01.dat loacalCRC="))
        << "checked after the stop";
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
    EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p01.dat"))
        << "the download under way was installed";
    EXPECT_FALSE(ProbeMachine().bRegistry);
    for (HANDLE h : {hHelper, hWorker, hRunner})
        CloseHandle(h);
    DestroyWindow(hWitnessWnd);
}

} // namespace
