#pragma once
#include <windows.h>

#include <string>

class CDataExchange;

// A modal dialog from a template in the program's resources. The dialog procedure stores `this`
// at WM_INITDIALOG and hands every message to the virtual WindowProc, whose cases unpack the
// parameters and call typed handlers; messages it leaves get the system's dialog defaults.
class CDialog {
public:
    explicit CDialog(UINT nIDTemplate, HWND hWndParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // IDOK, IDCANCEL or the value given to EndDialog; -1 when the dialog cannot be created.
    virtual INT_PTR DoModal();
    void EndDialog(INT_PTR nResult);
    HWND GetSafeHwnd() const { return m_hWnd; }
    // Moves control contents into members (TRUE) or members into the controls (FALSE).
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Returns true when the message was handled, with its result in lResult.
    virtual bool WindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    void CenterOverOwner();

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    HWND m_hWndParent;
};

// The direction and target of one data exchange between a dialog's controls and its members.
class CDataExchange {
public:
    CDataExchange(HWND hDlg, BOOL bSaveAndValidate)
        : m_hDlg(hDlg)
        , m_bSaveAndValidate(bSaveAndValidate)
    {
    }
    HWND m_hDlg;
    BOOL m_bSaveAndValidate;
};

// Exchanges the plain text of an edit control with a string, without validation.
void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& strValue);

// The window that modal dialogs created without a parent are owned by (the application's main window).
HWND GetMainWindowHandle();
void SetMainWindow(CDialog* pMainWnd);
