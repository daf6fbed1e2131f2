#pragma once
#include <windows.h>

#include "support/Handles.h"

// Several copies of the installer may run, but only one may install: a named mutex of the whole
// machine, held by the thread that took it (the window's) from the install button's click to the end
// of the run. A copy that was killed while holding it leaves it abandoned, which the next one takes.
class CInstallLock {
public:
    // True when this copy holds the lock now; false while another copy holds it.
    bool TryAcquire();
    void Release();

private:
    CKernelHandle m_hMutex;
    bool m_bHeld = false;
};

inline constexpr WCHAR g_szInstallMutex[] = L"Global\\Mirevale Setup installing";
