#include "framework/Dialog.h"

#include <vector>

namespace {
// Written on the main thread before any other thread exists and read by them afterwards.
CDialog* s_pMainWnd = nullptr;
} // namespace

HWND GetMainWindowHandle()
{
    return s_pMainWnd != nullptr ? s_pMainWnd->GetSafeHwnd() : nullptr;
}

void SetMainWindow(CDialog* pMainWnd)
{
    s_pMainWnd = pMainWnd;
}

CDialog::CDialog(UINT nIDTemplate, HWND hWndParent)
    : m_nIDTemplate(nIDTemplate)
    , m_hWndParent(hWndParent)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    HWND hWndOwner = m_hWndParent != nullptr ? m_hWndParent : GetMainWindowHandle();
    // The owner may be the main window of another thread (the credentials dialog is shown from
    // the install worker); the system disables it for the dialog's life and enables it again.
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), hWndOwner, DialogProc,
        reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR nResult)
{
    if (m_hWnd != nullptr)
        ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    if (m_hWnd == nullptr)
        return FALSE;
    CDataExchange dx(m_hWnd, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*)
{
}

BOOL CDialog::OnInitDialog()
{
    CenterOverOwner();
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::CenterOverOwner()
{
    HWND hWndOwner = GetWindow(m_hWnd, GW_OWNER);
    RECT rcOwner;
    if (hWndOwner == nullptr || !IsWindowVisible(hWndOwner) || IsIconic(hWndOwner)) {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcOwner, 0);
    } else {
        GetWindowRect(hWndOwner, &rcOwner);
    }
    RECT rcDlg;
    GetWindowRect(m_hWnd, &rcDlg);
    int x = rcOwner.left + ((rcOwner.right - rcOwner.left) - (rcDlg.right - rcDlg.left)) / 2;
    int y = rcOwner.top + ((rcOwner.bottom - rcOwner.top) - (rcDlg.bottom - rcDlg.top)) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::WindowProc(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pThis;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialog*>(lParam);
        pThis->m_hWnd = hWnd;
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    } else {
        pThis = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (pThis == nullptr)
        return FALSE;
    // Exceptions never cross back into the system's dialog manager.
    try {
        INT_PTR nResult = pThis->HandleMessage(uMsg, wParam, lParam);
        if (uMsg == WM_NCDESTROY) {
            SetWindowLongPtrW(hWnd, DWLP_USER, 0);
            pThis->m_hWnd = nullptr;
        }
        return nResult;
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CDialog::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (WindowProc(uMsg, wParam, lParam, lResult)) {
        switch (uMsg) {
        // These return their result directly rather than through DWLP_MSGRESULT.
        case WM_INITDIALOG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_QUERYDRAGICON:
            return static_cast<INT_PTR>(lResult);
        default:
            SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, lResult);
            return TRUE;
        }
    }
    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& strValue)
{
    HWND hCtl = GetDlgItem(pDX->m_hDlg, nIDC);
    if (hCtl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate) {
        int cch = GetWindowTextLengthW(hCtl);
        std::vector<WCHAR> buf(static_cast<size_t>(cch) + 1);
        GetWindowTextW(hCtl, buf.data(), cch + 1);
        strValue.assign(buf.data());
    } else {
        SetWindowTextW(hCtl, strValue.c_str());
    }
}
