#include <gtest/gtest.h>
#include <windows.h>

#include <future>
#include <string>
#include <vector>

#include "net/ProxyAuthDlg.h"
#include "res/resource.h"

namespace {

// Runs the dialog on its own thread, as the install worker does, and finds its window.
class ProxyAuthDlgTest : public testing::Test {
protected:
    void Open()
    {
        m_result = std::async(std::launch::async, [this] {
            m_dwThreadId = GetCurrentThreadId();
            return m_dlg.DoModal();
        });
        for (int i = 0; i < 200 && m_hDlg == nullptr; ++i) {
            HWND hWnd = FindWindowW(L"#32770", L"代理验证");
            if (hWnd != nullptr && IsWindowVisible(hWnd))
                m_hDlg = hWnd;
            else
                Sleep(50);
        }
        ASSERT_NE(nullptr, m_hDlg) << "the dialog did not open";
    }
    INT_PTR Close(WPARAM wCommand)
    {
        PostMessageW(m_hDlg, WM_COMMAND, wCommand, 0);
        return m_result.get();
    }
    void TearDown() override
    {
        if (m_result.valid()) {
            if (m_hDlg != nullptr && IsWindow(m_hDlg))
                PostMessageW(m_hDlg, WM_COMMAND, IDCANCEL, 0);
            m_result.get();
        }
    }

    CProxyAuthDlg m_dlg;
    std::future<INT_PTR> m_result;
    DWORD m_dwThreadId = 0;
    HWND m_hDlg = nullptr;
};

struct ControlExpectation {
    int nId;
    const wchar_t* pszClass;
    const wchar_t* pszText;
    LONG lStyle;
    RECT rcUnits; // x, y, width, height in dialog units, as the template gives them
};

TEST_F(ProxyAuthDlgTest, TemplateIsTheChineseCredentialsDialog)
{
    EXPECT_NE(nullptr,
        FindResourceExW(nullptr, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROXY_AUTH),
            MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)));
    ASSERT_NO_FATAL_FAILURE(Open());

    LONG lStyle = GetWindowLongW(m_hDlg, GWL_STYLE);
    EXPECT_EQ(WS_POPUP | WS_CAPTION | WS_SYSMENU, lStyle & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CHILD));
    EXPECT_NE(0, GetWindowLongW(m_hDlg, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

    const ControlExpectation expected[] = {
        {IDOK, L"Button", L"确定", BS_DEFPUSHBUTTON | WS_TABSTOP, {25, 73, 50, 14}},
        {IDCANCEL, L"Button", L"取消", BS_PUSHBUTTON | WS_TABSTOP, {110, 73, 50, 14}},
        {-1, L"Static", L"名称：", SS_LEFT | WS_GROUP, {32, 24, 33, 8}},
        {-1, L"Static", L"密码：", SS_LEFT | WS_GROUP, {33, 46, 29, 16}},
        {IDC_PROXY_USER, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {69, 22, 82, 14}},
        {IDC_PROXY_PASSWORD, L"Edit", L"", WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, {70, 42, 80, 14}},
    };
    HWND hCtl = GetWindow(m_hDlg, GW_CHILD);
    for (const ControlExpectation& control : expected) {
        ASSERT_NE(nullptr, hCtl);
        wchar_t szClass[32] = {};
        wchar_t szText[32] = {};
        GetClassNameW(hCtl, szClass, 32);
        GetWindowTextW(hCtl, szText, 32);
        EXPECT_EQ(control.nId, static_cast<short>(GetDlgCtrlID(hCtl))) << control.pszText;
        EXPECT_EQ(0, _wcsicmp(control.pszClass, szClass));
        EXPECT_STREQ(control.pszText, szText);
        LONG lCtlStyle = GetWindowLongW(hCtl, GWL_STYLE);
        // The dialog manager draws an edit's border as a sunken client edge.
        if (GetWindowLongW(hCtl, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            lCtlStyle |= WS_BORDER;
        EXPECT_EQ(control.lStyle, lCtlStyle & control.lStyle) << control.pszText;
        EXPECT_NE(0, lCtlStyle & WS_VISIBLE);
        if (control.nId == IDC_PROXY_USER) {
            EXPECT_EQ(0, lCtlStyle & ES_PASSWORD) << "the user name is shown in clear";
        }
        // The dialog manager converts position and size each on its own.
        RECT rcExpected = control.rcUnits;
        MapDialogRect(m_hDlg, &rcExpected);
        rcExpected.right += rcExpected.left;
        rcExpected.bottom += rcExpected.top;
        RECT rcActual;
        GetWindowRect(hCtl, &rcActual);
        MapWindowPoints(nullptr, m_hDlg, reinterpret_cast<POINT*>(&rcActual), 2);
        EXPECT_TRUE(EqualRect(&rcExpected, &rcActual))
            << control.pszText << " at " << rcActual.left << "," << rcActual.top << "-" << rcActual.right << ","
            << rcActual.bottom << " instead of " << rcExpected.left << "," << rcExpected.top << "-" << rcExpected.right
            << "," << rcExpected.bottom;
        hCtl = GetWindow(hCtl, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, hCtl) << "no other control";
}

TEST_F(ProxyAuthDlgTest, OkHoldsTheFocusAndTabWalksTheFieldsInOrder)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    HWND hOk = GetDlgItem(m_hDlg, IDOK);
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    ASSERT_TRUE(GetGUIThreadInfo(m_dwThreadId, &info));
    EXPECT_EQ(hOk, info.hwndFocus) << "Enter confirms at once";

    std::vector<int> order;
    HWND hItem = hOk;
    for (int i = 0; i < 4; ++i) {
        hItem = GetNextDlgTabItem(m_hDlg, hItem, FALSE);
        order.push_back(GetDlgCtrlID(hItem));
    }
    EXPECT_EQ((std::vector<int> {IDCANCEL, IDC_PROXY_USER, IDC_PROXY_PASSWORD, IDOK}), order);
}

TEST_F(ProxyAuthDlgTest, OkHandsBackWhatWasEnteredWithinTheCredentialLimit)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    HWND hUser = GetDlgItem(m_hDlg, IDC_PROXY_USER);
    HWND hPassword = GetDlgItem(m_hDlg, IDC_PROXY_PASSWORD);
    EXPECT_EQ(63, SendMessageW(hUser, EM_GETLIMITTEXT, 0, 0));
    EXPECT_EQ(63, SendMessageW(hPassword, EM_GETLIMITTEXT, 0, 0));
    EXPECT_NE(0, SendMessageW(hPassword, EM_GETPASSWORDCHAR, 0, 0));

    SetWindowTextW(hUser, L"代理用户");
    // Typing stops at the limit.
    SendMessageW(hPassword, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(std::wstring(80, L'p').c_str()));
    EXPECT_EQ(IDOK, Close(IDOK));
    EXPECT_EQ(L"代理用户", m_dlg.GetUser());
    EXPECT_EQ(std::wstring(63, L'p'), m_dlg.GetPassword());
}

TEST_F(ProxyAuthDlgTest, OkWithBothFieldsEmptyIsAccepted)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(IDOK, Close(IDOK));
    EXPECT_EQ(L"", m_dlg.GetUser());
    EXPECT_EQ(L"", m_dlg.GetPassword());
}

TEST_F(ProxyAuthDlgTest, CancelAndTheCloseCommandEndWithCancel)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    SetWindowTextW(GetDlgItem(m_hDlg, IDC_PROXY_USER), L"typed");
    EXPECT_EQ(IDCANCEL, Close(IDCANCEL));
    EXPECT_EQ(L"", m_dlg.GetUser()) << "the fields are not read on cancel";

    m_hDlg = nullptr;
    ASSERT_NO_FATAL_FAILURE(Open());
    PostMessageW(m_hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(IDCANCEL, m_result.get());
}

TEST(DialogTest, MissingTemplateGivesMinusOne)
{
    CDialog dlg(4242);
    EXPECT_EQ(-1, dlg.DoModal());
}

} // namespace
