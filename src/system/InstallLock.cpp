#include "system/InstallLock.h"

bool CInstallLock::TryAcquire()
{
    if (m_bHeld)
        return true;
    if (!m_hMutex)
        m_hMutex.Attach(CreateMutexW(nullptr, FALSE, g_szInstallMutex));
    if (!m_hMutex)
        return false;
    DWORD dwResult = WaitForSingleObject(m_hMutex.Get(), 0);
    m_bHeld = dwResult == WAIT_OBJECT_0 || dwResult == WAIT_ABANDONED;
    return m_bHeld;
}

void CInstallLock::Release()
{
    if (m_bHeld)
        ReleaseMutex(m_hMutex.Get());
    m_bHeld = false;
}
