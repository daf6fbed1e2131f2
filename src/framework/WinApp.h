#pragma once
#include <windows.h>

class CDialog;

// The application object: one per program, constructed as a static before the entry point runs.
// The entry point calls InitInstance; a program whose work is one modal dialog returns false there,
// and the process ends after ExitInstance without running a message loop of its own.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    static CWinApp* GetApp();
};
