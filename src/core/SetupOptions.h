#pragma once
#include <windows.h>

// What the command line asks for. Only these switches are known, in any case; every other argument is
// ignored, as it always was.
//   /S or /VERYSILENT   install at once, with no window, message or dialog; end with an exit code
//   /LAUNCH             with /S: start the client after a complete install (the window run always does)
struct SetupOptions {
    bool bSilent = false;
    bool bLaunch = false;
};

// pszCommandLine as GetCommandLineW gives it, the program's own name first.
SetupOptions ParseSetupOptions(const WCHAR* pszCommandLine);
