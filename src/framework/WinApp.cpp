#include "framework/WinApp.h"

#include "support/DllSearch.h"

namespace {
CWinApp* s_pApp = nullptr;
} // namespace

CWinApp::CWinApp()
{
    s_pApp = this;
}

CWinApp::~CWinApp()
{
    if (s_pApp == this)
        s_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

CWinApp* CWinApp::GetApp()
{
    return s_pApp;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    RestrictDllSearch();
    CWinApp* pApp = CWinApp::GetApp();
    if (pApp == nullptr)
        return 1;
    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    // A program that keeps running after InitInstance pumps its messages here.
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    pApp->ExitInstance();
    return static_cast<int>(msg.wParam);
}
