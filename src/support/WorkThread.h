#pragma once
#include <windows.h>

#include <atomic>

#include "support/Handles.h"

// Gives an object one background thread of its own and a stop request. A derived class supplies the
// body in Run; the owner starts it once with Start, calls RequestStop to ask it to stop, and calls
// WaitForExit before the object goes away.
class CWorkThread {
public:
    CWorkThread();
    virtual ~CWorkThread() = default;
    CWorkThread(const CWorkThread&) = delete;
    CWorkThread& operator=(const CWorkThread&) = delete;

    // 1 if a thread was created; 0 if one was started before on this object or creation failed.
    virtual BOOL Start(UINT nStackSize);
    virtual DWORD Run() = 0;
    // Blocks until the thread has ended, at most 600,000 ms and then 600 further waits of 1,000 ms.
    void WaitForExit();
    // True when no thread was started or the started one has ended.
    bool HasExited() const;
    // Asks the body to stop: the request stays until the next Start, so that every later look sees
    // it, and m_hStopEvent is signalled for whoever waits on it.
    void RequestStop();
    bool StopRequested() const { return m_bStopRequested.load(); }
    const std::atomic<bool>* StopFlag() const { return &m_bStopRequested; }

protected:
    static DWORD WINAPI ThreadEntry(LPVOID pParam);

    CKernelHandle m_hThread;
    DWORD m_dwThreadId;
    CKernelHandle m_hStopEvent; // auto-reset: a wait consumes it, so the body looks at StopRequested
    std::atomic<bool> m_bStopRequested {false};
};
