#pragma once
#include <windows.h>

#include "support/Handles.h"

// The security of a folder the installer or the uninstaller makes for what it installs or runs: SYSTEM
// and the administrators may do everything, users may read and run, and nothing comes from the folder
// above. A folder at a drive's root would otherwise let every signed-in user change the programs that
// an administrator later starts from it. What is created inside inherits the same.
class CProtectedFolderSecurity {
public:
    CProtectedFolderSecurity();
    CProtectedFolderSecurity(const CProtectedFolderSecurity&) = delete;
    CProtectedFolderSecurity& operator=(const CProtectedFolderSecurity&) = delete;

    // For CreateDirectory; nullptr when the descriptor could not be built (logged).
    LPSECURITY_ATTRIBUTES Get();

    static const WCHAR* Sddl();

private:
    CLocalMemory m_descriptor; // a PSECURITY_DESCRIPTOR
    SECURITY_ATTRIBUTES m_sa = {};
};
