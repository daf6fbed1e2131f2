#include "app/SetupApp.h"

#include <memory>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "core/SetupOptions.h"
#include "support/GdiplusSession.h"

CSetupApp theApp;
const std::wstring g_strBaseUrl = MIREVALE_BASE_URL;

const std::vector<std::wstring> g_vecMirrorUrls = SplitMirrorUrls(MIREVALE_MIRRORS);
const std::wstring g_strReleaseKey = MIREVALE_RELEASE_KEY;

BOOL CSetupApp::InitInstance()
{
    const SetupOptions options = ParseSetupOptions(GetCommandLineW());
    if (options.bSilent) {
        // Nothing is drawn: no images, so no GDI+ either.
        CSetupDlg dlg(nullptr);
        m_dwExitCode = dlg.InstallSilently(options.bLaunch);
        return FALSE;
    }

    // A failed start leaves the images absent; the window still runs and its buttons still work. The
    // session ends after the window object, which holds the images until it goes.
    CGdiplusSession gdiplus;
    auto pDlg = std::make_unique<CSetupDlg>(nullptr, &gdiplus);
    SetMainWindow(pDlg.get());
    pDlg->DoModal();
    SetMainWindow(nullptr);
    // The window waits for the install run when it is destroyed; a stop ends the run within moments,
    // and the process must not end under a run that still puts the previous installation back.
    while (!pDlg->HasExited())
        pDlg->WaitForExit();
    m_dwExitCode = pDlg->ExitCode();
    return FALSE;
}

int CSetupApp::ExitInstance()
{
    CWinApp::ExitInstance();
    return static_cast<int>(m_dwExitCode);
}
