#include "system/FolderSecurity.h"

#include <sddl.h>

#include "support/Log.h"

CProtectedFolderSecurity::CProtectedFolderSecurity()
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl(), SDDL_REVISION_1, m_descriptor.Put(), nullptr)) {
        LogError(L"[CProtectedFolderSecurity] descriptor not built error=%lu", GetLastError());
        m_descriptor.Detach(); // what a failed call left there was not allocated
        return;
    }
    m_sa.nLength = sizeof(m_sa);
    m_sa.lpSecurityDescriptor = m_descriptor.Get();
    m_sa.bInheritHandle = FALSE;
}

LPSECURITY_ATTRIBUTES CProtectedFolderSecurity::Get()
{
    return m_descriptor ? &m_sa : nullptr;
}

const WCHAR* CProtectedFolderSecurity::Sddl()
{
    // P: protected, nothing inherited from above; OICI: files and folders below inherit each entry.
    // FRFX: read and run (0x1200a9); FA: full control.
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
}
