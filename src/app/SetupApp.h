#pragma once
#include "framework/WinApp.h"

// Start-up: starts GDI+, runs the installer window modally, shuts GDI+ down once it is gone; or, with
// /S on the command line, the unattended install without any window. The process ends with the run's
// exit code.
class CSetupApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    DWORD m_dwExitCode = ERROR_INSTALL_USEREXIT;
};

extern CSetupApp theApp;
