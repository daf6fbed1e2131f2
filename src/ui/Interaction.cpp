#include "core/SetupDlg.h"

#include "support/Log.h"
#include "system/ClientProcess.h"
#include "core/rules/Names.h"

namespace {

bool InsideScreenRect(HWND hWnd, const RECT& rcClient, POINT ptScreen)
{
    RECT rc = rcClient;
    MapWindowPoints(hWnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return PtInRect(&rc, ptScreen) != FALSE;
}

} // namespace

bool CSetupDlg::OnNcHitTest(POINT ptScreen, LRESULT& lResult)
{
    if (InsideScreenRect(m_hWnd, m_rcClose, ptScreen)
        || (m_nState == 0 && InsideScreenRect(m_hWnd, m_rcInstall, ptScreen))
        || InsideScreenRect(m_hWnd, m_rcMinimize, ptScreen) || InsideScreenRect(m_hWnd, m_rcAgree, ptScreen))
        return false;
    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    if (!InsideScreenRect(m_hWnd, rcClient, ptScreen))
        return false;
    // Anywhere else the window is dragged as if by a caption.
    lResult = HTCAPTION;
    return true;
}

void CSetupDlg::OnMouseMove(POINT pt)
{
    if (m_hHandCursor == nullptr)
        return;
    if (PtInRect(&m_rcClose, pt) || PtInRect(&m_rcMinimize, pt) || PtInRect(&m_rcAgree, pt)
        || (PtInRect(&m_rcInstall, pt) && m_nState == 0))
        SetCursor(m_hHandCursor);
}

bool CSetupDlg::OnLButtonUp(POINT pt)
{
    if (PtInRect(&m_rcClose, pt)) {
        OnCloseButton();
        return true;
    }
    if (PtInRect(&m_rcInstall, pt) && m_nState == 0) {
        OnInstallButton();
        return true;
    }
    if (PtInRect(&m_rcMinimize, pt)) {
        ShowWindow(m_hWnd, SW_MINIMIZE);
        return true;
    }
    return false;
}

void CSetupDlg::OnCloseButton()
{
    if (m_nState == 1 && m_bConfirmClose
        && MessageBoxW(m_hWnd, L"是否终止安装？", L"询问", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return;
    RequestStop();
    EndDialog(IDCANCEL);
}

void CSetupDlg::OnInstallButton()
{
    if (!m_bAgreed) {
        MessageBoxW(m_hWnd, L"请先阅读并同意用户许可协议！", L"提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (FindProcess(L"" CLIENT_PROGRAM_NAME, m_szSetupPath)) {
        MessageBoxW(m_hWnd, L"程序正在运行，请先关闭程序再安装", L"提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!m_installLock.TryAcquire()) {
        LogNormal(L"[CSetupDlg::OnInstallButton] another copy of the installer is installing");
        MessageBoxW(m_hWnd, L"另一个安装程序正在安装，请等它结束后再试", L"提示", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!Start(0)) {
        m_installLock.Release();
        return;
    }
    m_nState = 1;
    ShowWindow(m_stcPercent.GetSafeHwnd(), SW_SHOW);
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CSetupDlg::OnLaunchTimer()
{
    KillTimer(m_hWnd, IDT_LAUNCH_CLIENT);
    LaunchClient();
    EndDialog(IDOK);
}
