#pragma once
#include "framework/WinApp.h"

// Start-up: starts GDI+, runs the installer window modally, shuts GDI+ down once it is gone.
class CSetupApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CSetupApp theApp;
extern ULONG_PTR g_gdiplusToken;
