#pragma once
#include <windows.h>

// What the installer's process ends with, for the deployment tools that start it unattended. Windows
// Installer's numbers where one has the meaning, as those tools know them already; the installer's own
// ones lie outside every number Windows Installer returns.
enum SetupExitCode : DWORD {
    SETUP_EXIT_INSTALLED = 0,
    SETUP_EXIT_DISK_FULL = ERROR_DISK_FULL, // 112
    SETUP_EXIT_USER_STOPPED = ERROR_INSTALL_USEREXIT, // 1602: the window was closed before the run completed
    SETUP_EXIT_FAILED = ERROR_INSTALL_FAILURE, // 1603: a package, the manifest, the check; the log says which
    SETUP_EXIT_ANOTHER_INSTALL = ERROR_INSTALL_ALREADY_RUNNING, // 1618
    SETUP_EXIT_CLIENT_RUNNING = 3101, // the client runs from the install folder: nothing was changed
    SETUP_EXIT_RELEASE_REFUSED = 3102, // the release's signature or a file's hash was refused
    SETUP_EXIT_PROXY_CREDENTIALS = 3103, // the proxy asks for credentials, which an unattended run has not
};

// The errors of a write or a creation that failed for want of space on the drive.
inline bool IsDiskFullError(DWORD dwError)
{
    return dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL;
}
