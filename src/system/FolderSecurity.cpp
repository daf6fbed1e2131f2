#include "system/FolderSecurity.h"

#include <sddl.h>

#include "support/Log.h"

CProtectedFolderSecurity::CProtectedFolderSecurity()
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl(), SDDL_REVISION_1, &m_pDescriptor, nullptr)) {
        LogError(L"[CProtectedFolderSecurity] descriptor not built error=%lu", GetLastError());
        m_pDescriptor = nullptr;
        return;
    }
    m_sa.nLength = sizeof(m_sa);
    m_sa.lpSecurityDescriptor = m_pDescriptor;
    m_sa.bInheritHandle = FALSE;
}

CProtectedFolderSecurity::~CProtectedFolderSecurity()
{
    if (m_pDescriptor != nullptr)
        LocalFree(m_pDescriptor);
}

LPSECURITY_ATTRIBUTES CProtectedFolderSecurity::Get()
{
    return m_pDescriptor != nullptr ? &m_sa : nullptr;
}

const WCHAR* CProtectedFolderSecurity::Sddl()
{
    // P: protected, nothing inherited from above; OICI: files and folders below inherit each entry.
    // FRFX: read and run (0x1200a9); FA: full control.
    return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
}
