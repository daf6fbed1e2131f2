#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <stdexcept>

#include "support/WorkThread.h"

namespace {

class CTestThread : public CWorkThread {
public:
    explicit CTestThread(std::function<DWORD(CTestThread&)> body)
        : m_body(std::move(body))
    {
    }
    ~CTestThread() override { WaitForExit(); }

    DWORD Run() override
    {
        ++m_nRuns;
        return m_body(*this);
    }
    HANDLE StopEvent() const { return m_hStopEvent.Get(); }
    HANDLE ThreadHandle() const { return m_hThread.Get(); }
    DWORD ExitCode()
    {
        WaitForExit();
        DWORD dwCode = 0xDEAD;
        GetExitCodeThread(m_hThread.Get(), &dwCode);
        return dwCode;
    }

    std::atomic<int> m_nRuns {0};

private:
    std::function<DWORD(CTestThread&)> m_body;
};

TEST(WorkThreadTest, StartTwiceRunsOneThread)
{
    HANDLE hGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CTestThread thread([hGate](CTestThread&) {
        WaitForSingleObject(hGate, 10000);
        return DWORD {5};
    });
    EXPECT_EQ(1, thread.Start(0));
    HANDLE hFirst = thread.ThreadHandle();
    EXPECT_EQ(0, thread.Start(0));
    EXPECT_EQ(hFirst, thread.ThreadHandle());
    SetEvent(hGate);
    EXPECT_EQ(5u, thread.ExitCode());
    EXPECT_EQ(1, thread.m_nRuns.load());
    EXPECT_EQ(0, thread.Start(0)) << "a finished thread is not started again";
    CloseHandle(hGate);
}

TEST(WorkThreadTest, StopRequestLeftFromBeforeStartIsCleared)
{
    CTestThread thread([](CTestThread& self) { return self.StopRequested() ? DWORD {1} : DWORD {0}; });
    thread.RequestStop();
    ASSERT_EQ(1, thread.Start(0));
    EXPECT_EQ(0u, thread.ExitCode());
}

TEST(WorkThreadTest, AStopRequestStaysForEveryLaterLookAndSignalsTheEvent)
{
    HANDLE hRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CTestThread thread([hRequested](CTestThread& self) {
        WaitForSingleObject(hRequested, 10000);
        bool bWaited = WaitForSingleObject(self.StopEvent(), 0) == WAIT_OBJECT_0;
        bool bFirst = self.StopRequested();
        bool bSecond = self.StopRequested();
        return DWORD(bWaited ? 1 : 0) | DWORD(bFirst ? 2 : 0) | DWORD(bSecond ? 4 : 0);
    });
    ASSERT_EQ(1, thread.Start(0));
    thread.RequestStop();
    SetEvent(hRequested);
    EXPECT_EQ(7u, thread.ExitCode()) << "a wait on the event must not consume the request";
    CloseHandle(hRequested);
}

TEST(WorkThreadTest, WaitForExitWithoutThreadReturnsAtOnce)
{
    CTestThread thread([](CTestThread&) { return DWORD {0}; });
    ULONGLONG ullStart = GetTickCount64();
    thread.WaitForExit();
    EXPECT_LT(GetTickCount64() - ullStart, 10000u) << "the wait must not hang";
}

TEST(WorkThreadTest, WaitForExitFromInsideRunReturnsAtOnce)
{
    CTestThread thread([](CTestThread& self) {
        self.WaitForExit();
        return DWORD {9};
    });
    ASSERT_EQ(1, thread.Start(0));
    EXPECT_EQ(9u, thread.ExitCode());
}

TEST(WorkThreadTest, ThrowingBodyEndsItsThreadWithZero)
{
    CTestThread thread([](CTestThread&) -> DWORD { throw std::runtime_error("escaped"); });
    ASSERT_EQ(1, thread.Start(0));
    EXPECT_EQ(0u, thread.ExitCode());
}

TEST(WorkThreadTest, FaultingBodyEndsItsThreadWithZeroAndTheProcessGoesOn)
{
    CTestThread thread([](CTestThread&) -> DWORD {
        volatile int* pNull = nullptr;
        *pNull = 1;
        return 7;
    });
    ASSERT_EQ(1, thread.Start(0));
    EXPECT_EQ(0u, thread.ExitCode());

    CTestThread after([](CTestThread&) { return DWORD {3}; });
    ASSERT_EQ(1, after.Start(0));
    EXPECT_EQ(3u, after.ExitCode());
}

TEST(WorkThreadTest, BodyThatSendsToTheWaitingThreadsWindowDoesNotBlockTheWait)
{
    HWND hWnd = CreateWindowExW(0, L"STATIC", L"before", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hWnd);
    HANDLE hWaiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CTestThread thread([hWnd, hWaiting](CTestThread&) {
        // The label text change is carried out by the window's thread, which is inside WaitForExit.
        WaitForSingleObject(hWaiting, 10000);
        Sleep(200);
        return SetWindowTextW(hWnd, L"after") ? DWORD {1} : DWORD {2};
    });
    ASSERT_EQ(1, thread.Start(0));
    SetEvent(hWaiting);
    ULONGLONG ullStart = GetTickCount64();
    thread.WaitForExit();
    EXPECT_LT(GetTickCount64() - ullStart, 10000u);
    EXPECT_EQ(1u, thread.ExitCode());
    wchar_t szText[16] = {};
    GetWindowTextW(hWnd, szText, 16);
    EXPECT_STREQ(L"after", szText);
    DestroyWindow(hWnd);
    CloseHandle(hWaiting);
}

} // namespace
