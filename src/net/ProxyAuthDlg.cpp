#include "net/ProxyAuthDlg.h"

#include "res/resource.h"

namespace {
// The remembered credentials live in buffers of 64 units: 63 characters and the terminator.
const int MAX_CREDENTIAL_CHARS = 63;
} // namespace

CProxyAuthDlg::CProxyAuthDlg(HWND hWndParent)
    : CDialog(IDD_PROXY_AUTH, hWndParent)
{
}

CProxyAuthDlg::~CProxyAuthDlg() = default;

void CProxyAuthDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_PROXY_USER, m_strUser);
    DDX_Text(pDX, IDC_PROXY_PASSWORD, m_strPassword);
}

BOOL CProxyAuthDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendDlgItemMessageW(m_hWnd, IDC_PROXY_USER, EM_SETLIMITTEXT, MAX_CREDENTIAL_CHARS, 0);
    SendDlgItemMessageW(m_hWnd, IDC_PROXY_PASSWORD, EM_SETLIMITTEXT, MAX_CREDENTIAL_CHARS, 0);
    UpdateData(FALSE);
    return TRUE;
}

void CProxyAuthDlg::OnOK()
{
    UpdateData(TRUE);
    CDialog::OnOK();
}

void CProxyAuthDlg::OnCancel()
{
    CDialog::OnCancel();
}
