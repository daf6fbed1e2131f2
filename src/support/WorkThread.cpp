#include "support/WorkThread.h"

namespace {

// Set on a thread while it runs a body inside ThreadEntry's guard.
thread_local bool t_bGuardedBody = false;
LPTOP_LEVEL_EXCEPTION_FILTER s_pfnPreviousFilter = nullptr;
INIT_ONCE s_filterOnce = INIT_ONCE_STATIC_INIT;

// MinGW has no __try/__except. A processor fault that nothing in the body handles reaches the
// process's unhandled-exception filter on the faulting thread; on a guarded thread it ends that
// thread alone, with exit code 0, instead of the process.
LONG WINAPI GuardedBodyFilter(EXCEPTION_POINTERS* pInfo)
{
    if (t_bGuardedBody)
        ExitThread(0);
    return s_pfnPreviousFilter != nullptr ? s_pfnPreviousFilter(pInfo) : EXCEPTION_CONTINUE_SEARCH;
}

BOOL CALLBACK InstallGuardFilter(PINIT_ONCE, PVOID, PVOID*)
{
    s_pfnPreviousFilter = SetUnhandledExceptionFilter(GuardedBodyFilter);
    return TRUE;
}

// Waits for the handle like WaitForSingleObject, but lets messages that other threads send to
// this thread's windows through meanwhile: a body that sets a label text on the waiting thread's
// window would otherwise block until the wait gives up. Posted messages stay queued.
DWORD WaitHandlingSentMessages(HANDLE hObject, DWORD dwMilliseconds)
{
    ULONGLONG ullDeadline = GetTickCount64() + dwMilliseconds;
    for (;;) {
        ULONGLONG ullNow = GetTickCount64();
        DWORD dwLeft = ullNow >= ullDeadline ? 0 : static_cast<DWORD>(ullDeadline - ullNow);
        DWORD dwResult = MsgWaitForMultipleObjects(1, &hObject, FALSE, dwLeft, QS_SENDMESSAGE);
        if (dwResult != WAIT_OBJECT_0 + 1)
            return dwResult;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

CWorkThread::CWorkThread()
    : m_dwThreadId(0)
    , m_hStopEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

BOOL CWorkThread::Start(UINT nStackSize)
{
    if (m_hThread)
        return 0;
    // A stop request left from before must not stop the new thread at once.
    ResetEvent(m_hStopEvent.Get());
    m_bStopRequested = false;
    InitOnceExecuteOnce(&s_filterOnce, InstallGuardFilter, nullptr, nullptr);
    m_hThread.Attach(CreateThread(nullptr, nStackSize, ThreadEntry, this, 0, &m_dwThreadId));
    return m_hThread ? 1 : 0;
}

DWORD WINAPI CWorkThread::ThreadEntry(LPVOID pParam)
{
    CWorkThread* pThis = static_cast<CWorkThread*>(pParam);
    t_bGuardedBody = true;
    DWORD dwExitCode = 0;
    try {
        dwExitCode = pThis->Run();
    } catch (...) {
        dwExitCode = 0;
    }
    t_bGuardedBody = false;
    return dwExitCode;
}

void CWorkThread::WaitForExit()
{
    if (!m_hThread)
        return;
    if (m_dwThreadId == GetCurrentThreadId())
        return;
    DWORD dwResult = WaitHandlingSentMessages(m_hThread.Get(), 600000);
    for (int nRetry = 0; dwResult == WAIT_TIMEOUT && nRetry < 600; ++nRetry)
        dwResult = WaitHandlingSentMessages(m_hThread.Get(), 1000);
}

void CWorkThread::RequestStop()
{
    m_bStopRequested = true;
    SetEvent(m_hStopEvent.Get());
}

bool CWorkThread::HasExited() const
{
    return !m_hThread || WaitForSingleObject(m_hThread.Get(), 0) == WAIT_OBJECT_0;
}
