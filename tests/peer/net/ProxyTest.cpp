#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "TestFiles.h"
#include "net/HttpDownload.h"
#include "net/ProxyAuthDlg.h"
#include "res/resource.h"
#include "support/Log.h"

// Downloads through the prefix's system proxy, a squid that demands basic authentication (user
// "mirevale", password "s3cret"). tests/e2e/test_net.py starts one case at a time and answers the
// credentials dialog and message boxes as a user would, with real keys and clicks.

namespace {

std::wstring Env(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz != nullptr ? psz : L"";
}

// Watches for the credentials dialog while downloads run, and records what its password field is.
class CDialogWatcher {
public:
    CDialogWatcher()
        : m_thread([this] {
            while (!m_bStop) {
                // Shown only once its initialisation is complete.
                HWND hDlg = FindWindowW(L"#32770", L"代理验证");
                if (hDlg != nullptr && IsWindowVisible(hDlg))
                    Inspect(hDlg);
                Sleep(50);
            }
        })
    {
    }
    ~CDialogWatcher()
    {
        m_bStop = true;
        m_thread.join();
    }
    std::atomic<bool> m_bSeen {false};
    std::atomic<bool> m_bMasked {true};
    std::atomic<bool> m_bLimited {true};

private:
    void Inspect(HWND hDlg)
    {
        m_bSeen = true;
        HWND hPassword = GetDlgItem(hDlg, IDC_PROXY_PASSWORD);
        HWND hUser = GetDlgItem(hDlg, IDC_PROXY_USER);
        if (hPassword == nullptr || hUser == nullptr)
            return;
        bool bMasked = (GetWindowLongW(hPassword, GWL_STYLE) & ES_PASSWORD) != 0
            && SendMessageW(hPassword, EM_GETPASSWORDCHAR, 0, 0) != 0;
        bool bLimited
            = SendMessageW(hUser, EM_GETLIMITTEXT, 0, 0) == 63 && SendMessageW(hPassword, EM_GETLIMITTEXT, 0, 0) == 63;
        // A dialog that closed meanwhile (it is hidden before its controls go) answers nothing: only what
        // a living dialog said counts.
        if (!IsWindowVisible(hDlg) || !IsWindow(hPassword) || !IsWindow(hUser))
            return;
        if (!bMasked)
            m_bMasked = false;
        if (!bLimited)
            m_bLimited = false;
    }
    std::atomic<bool> m_bStop {false};
    std::thread m_thread;
};

class ProxyTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strUrl = Env(L"MIREVALE_TEST_BASE_URL") + L"p5000.bin";
        m_folder = MakeTempFolder(L"proxy");
        wcscpy(g_szLogPath, (m_folder + L"\\log.txt").c_str());
        m_pBuffer = new BYTE[10000]();
    }
    void TearDown() override
    {
        g_szLogPath[0] = L'\0';
        delete[] m_pBuffer;
    }
    int Fetch()
    {
        m_nLength = 0;
        m_nCapacity = 10000;
        return HttpDownload(m_strUrl.c_str(), &m_pBuffer, &m_nLength, &m_nCapacity, m_szUser, m_szPassword, nullptr);
    }
    size_t CountInLog(const std::wstring& strText)
    {
        std::wstring strLog = Utf16(ReadFileBytes(m_folder + L"\\log.txt"));
        size_t n = 0;
        for (size_t pos = strLog.find(strText); pos != std::wstring::npos; pos = strLog.find(strText, pos + 1))
            ++n;
        return n;
    }

    const std::wstring m_strNeed = L"]  need check username and password\r\n";
    const std::wstring m_strCancel
        = L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]] check username and password cancle\r\n";
    const std::wstring m_strFailed
        = L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password failed\r\n";
    const std::wstring m_strSuccess
        = L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password success\r\n";

    std::wstring m_strUrl;
    std::wstring m_folder;
    BYTE* m_pBuffer = nullptr;
    int m_nLength = 0;
    int m_nCapacity = 0;
    WCHAR m_szUser[64] = {};
    WCHAR m_szPassword[64] = {};
};

// The driver types "mirevale" and "s3cret" into the one dialog of this case.
TEST_F(ProxyTest, AsksOnceAndReusesTheCredentials)
{
    CDialogWatcher watcher;
    ASSERT_EQ(1, Fetch());
    EXPECT_EQ(5000, m_nLength);
    EXPECT_STREQ(L"mirevale", m_szUser);
    EXPECT_STREQ(L"s3cret", m_szPassword);
    EXPECT_TRUE(watcher.m_bSeen);
    EXPECT_TRUE(watcher.m_bMasked) << "the password field masks what is typed";
    EXPECT_TRUE(watcher.m_bLimited) << "both fields take at most 63 characters";

    ASSERT_EQ(1, Fetch()) << "the remembered credentials answer the next 407 without the dialog";
    EXPECT_EQ(5000, m_nLength);
    // Through a tunnel WinINet keeps the credentials that opened it and answers the next 407 itself.
    size_t nAnswered = m_strUrl.compare(0, 6, L"https:") == 0 ? 1u : 2u;
    EXPECT_EQ(nAnswered, CountInLog(m_strNeed));
    EXPECT_EQ(nAnswered, CountInLog(m_strSuccess));
    EXPECT_EQ(0u, CountInLog(m_strCancel));
}

// The driver presses Esc at the first dialog, clicks the close box of the second, and types the
// right credentials into the third.
TEST_F(ProxyTest, CancelledDialogFailsAndTheNextAnswerAsksAgain)
{
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(1u, CountInLog(m_strCancel));
    EXPECT_STREQ(L"", m_szUser);
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(2u, CountInLog(m_strCancel));
    EXPECT_EQ(1, Fetch());
    EXPECT_STREQ(L"mirevale", m_szUser);
}

// The driver types "mirevale" and "wrong" into the dialog, then confirms each message box.
TEST_F(ProxyTest, RefusedCredentialsFailEveryTimeWithoutAskingAgain)
{
    EXPECT_EQ(0, Fetch());
    EXPECT_STREQ(L"wrong", m_szPassword) << "the rejected values are kept";
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(2u, CountInLog(m_strFailed));
    EXPECT_EQ(0u, CountInLog(m_strSuccess));
}

// The driver presses Enter on the empty dialog, confirms the message box, then presses Esc at the
// dialog that comes again because the remembered credentials are still empty.
TEST_F(ProxyTest, EmptyFieldsAreAcceptedAndAskedForAgain)
{
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(1u, CountInLog(m_strFailed));
    EXPECT_STREQ(L"", m_szUser);
    EXPECT_EQ(0, Fetch());
    EXPECT_EQ(1u, CountInLog(m_strCancel));
}

} // namespace
