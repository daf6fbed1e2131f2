#pragma once
#include <windows.h>

// The security of a folder the installer or the uninstaller makes for what it installs or runs: SYSTEM
// and the administrators may do everything, users may read and run, and nothing comes from the folder
// above. A folder at a drive's root would otherwise let every signed-in user change the programs that
// an administrator later starts from it. What is created inside inherits the same.
class CProtectedFolderSecurity {
public:
    CProtectedFolderSecurity();
    ~CProtectedFolderSecurity();
    CProtectedFolderSecurity(const CProtectedFolderSecurity&) = delete;
    CProtectedFolderSecurity& operator=(const CProtectedFolderSecurity&) = delete;

    // For CreateDirectory; nullptr when the descriptor could not be built (logged).
    LPSECURITY_ATTRIBUTES Get();

    static const WCHAR* Sddl();

private:
    PSECURITY_DESCRIPTOR m_pDescriptor = nullptr;
    SECURITY_ATTRIBUTES m_sa = {};
};
