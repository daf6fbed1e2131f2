#include "core/SetupDlg.h"

#include <windowsx.h>

#include "res/resource.h"
#include "support/Format.h"

BOOL CSetupDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    MoveWindow(m_hWnd, 0, 0, 530, 360, TRUE);

    SetRect(&m_rcClose, 500, 0, 530, 32);
    SetRect(&m_rcInstall, 182, 290, 359, 332);
    SetRect(&m_rcMinimize, 470, 0, 500, 32);
    SetRect(&m_rcAgree, 10, 337, 24, 351);

    m_font.Attach(CreateFontW(14, 0, 0, 0, 400, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"宋体"));

    RECT rcPercent = {490, 341, 525, 359};
    m_stcPercent.Create(L"", SS_RIGHT, rcPercent, m_hWnd, IDC_STATIC_PERCENT);
    MoveWindow(m_stcPercent.GetSafeHwnd(), 490, 341, 35, 18, TRUE);
    SetWindowTextW(m_stcPercent.GetSafeHwnd(), L"0%");
    SendMessageW(m_stcPercent.GetSafeHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), TRUE);
    ShowWindow(m_stcPercent.GetSafeHwnd(), SW_HIDE);

    RECT rcStatus = {34, 324, 494, 342};
    m_stcStatus.Create(L"", SS_CENTER, rcStatus, m_hWnd, IDC_STATIC_STATUS);
    SendMessageW(m_stcStatus.GetSafeHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), TRUE);
    ShowWindow(m_stcStatus.GetSafeHwnd(), SW_HIDE);
    return TRUE;
}

bool CSetupDlg::WindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (uMsg) {
    case WM_PAINT:
        OnPaint();
        return true;
    case WM_QUERYDRAGICON:
        lResult = reinterpret_cast<LRESULT>(m_hIcon);
        return true;
    case WM_LBUTTONUP:
        return OnLButtonUp(pt);
    case WM_MOUSEMOVE:
        OnMouseMove(pt);
        return false;
    case WM_NCHITTEST:
        return OnNcHitTest(pt, lResult);
    case WM_TIMER:
        if (wParam != IDT_LAUNCH_CLIENT)
            return false;
        OnLaunchTimer();
        return true;
    case WM_NCDESTROY:
        OnNcDestroy();
        return false;
    case WM_SETUP_PROGRESS:
        UpdateProgressText();
        InvalidateRect(m_hWnd, nullptr, FALSE);
        lResult = 1;
        return true;
    case WM_SETUP_RUN_ENDED:
        m_installLock.Release();
        return true;
    case WM_SETUP_ARM_LAUNCH:
        SetTimer(m_hWnd, IDT_LAUNCH_CLIENT, 1000, nullptr);
        return true;
    case WM_CTLCOLORSTATIC:
        return CStatic::ReflectCtlColor(wParam, lParam, lResult);
    case WM_COMMAND:
        // Enter does nothing; Esc (and Alt+F4, which the system turns into IDCANCEL) acts as the
        // close button, so an install never goes on behind a window that vanished unasked.
        if (LOWORD(wParam) == IDOK)
            return true;
        if (LOWORD(wParam) == IDCANCEL) {
            OnCloseButton();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CSetupDlg::ArmLaunchTimer()
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr)
        return;
    // Only the window's own thread may set a timer on it; the runner asks that thread to.
    PostMessageW(hWnd, WM_SETUP_ARM_LAUNCH, 0, 0);
}

void CSetupDlg::OnNcDestroy()
{
    ReleaseImages();
    KillTimer(m_hWnd, IDT_LAUNCH_CLIENT);
    WaitForExit();
}
