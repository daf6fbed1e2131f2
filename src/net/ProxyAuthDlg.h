#pragma once
#include <string>

#include "framework/Dialog.h"

// Asks for the proxy user name and password when the configured proxy answers 407. Validates
// nothing: the two strings are read after DoModal returned IDOK.
class CProxyAuthDlg : public CDialog {
public:
    explicit CProxyAuthDlg(HWND hWndParent = nullptr);
    ~CProxyAuthDlg() override;

    const std::wstring& GetUser() const { return m_strUser; }
    const std::wstring& GetPassword() const { return m_strPassword; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    std::wstring m_strUser;
    std::wstring m_strPassword;
};
