#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "res/resource.h"
#include "support/Log.h"

// Fetches the manifest that tests/e2e/test_manifest.py serves for each case under its own base URL.

namespace {

// An installer whose failures reach a real status label, as in the window.
class ExecuteTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_hParent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 530, 360, nullptr, nullptr, nullptr, nullptr);
        RECT rc = {34, 324, 494, 342};
        m_dlg.m_stcStatus.Create(L"", SS_CENTER, rc, m_hParent, IDC_STATIC_STATUS);
    }
    void TearDown() override
    {
        m_dlg.m_stcStatus.DestroyWindow();
        DestroyWindow(m_hParent);
    }
    std::wstring Status()
    {
        WCHAR sz[64] = {};
        GetWindowTextW(m_dlg.m_stcStatus.GetSafeHwnd(), sz, 64);
        return sz;
    }
    // The log's records as level and message, each without its stamp and CR LF (a message may
    // hold line breaks of its own, as the manifest's text does).
    std::vector<std::wstring> LogLines()
    {
        std::wstring strLog = Utf16(ReadFileBytes(g_szLogPath));
        std::wregex stamp(L"\\[(Error|Normal)\\]\\[[^\\]]*\\]");
        std::vector<std::wstring> lines;
        std::wsregex_iterator it(strLog.begin(), strLog.end(), stamp), end;
        while (it != end) {
            size_t nStart = static_cast<size_t>(it->position() + it->length());
            std::wstring strLevel = L"[" + (*it)[1].str() + L"]";
            ++it;
            size_t nEnd = it != end ? static_cast<size_t>(it->position()) : strLog.size();
            lines.push_back(strLevel + strLog.substr(nStart, nEnd - nStart - 2));
        }
        return lines;
    }
    void ExpectFailure(const wchar_t* pszStatus, const wchar_t* pszLastLog)
    {
        int nCount = -1;
        EXPECT_FALSE(m_dlg.Execute(&nCount));
        EXPECT_EQ(-1, nCount);
        EXPECT_EQ(pszStatus, Status());
        EXPECT_EQ(RGB(255, 0, 0), m_dlg.m_stcStatus.GetTextColor());
        EXPECT_FALSE(m_dlg.m_bConfirmClose);
        std::vector<std::wstring> lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(pszLastLog, lines.back());
    }

    CSetupDlg m_dlg;
    HWND m_hParent = nullptr;
};

TEST_F(ExecuteTest, Manifest)
{
    int nCount = 0;
    ASSERT_TRUE(m_dlg.Execute(&nCount));
    EXPECT_EQ(5, nCount) << "kinds that are never installed still count";
    ASSERT_EQ(5u, m_dlg.m_vecPackages.size());
    EXPECT_STREQ(L"core.zip", m_dlg.m_vecPackages[0].szName);
    EXPECT_STREQ(L" spaced name.zip ", m_dlg.m_vecPackages[4].szName);
    EXPECT_TRUE(m_dlg.m_bConfirmClose);
    EXPECT_EQ(L"", Status());

    std::vector<std::wstring> lines = LogLines();
    std::vector<std::wstring> expected = {
        L"[Normal][CSetupDlg::Execute] start download  " + g_strBaseUrl + L"orbsetup.txt",
        L"[Normal][CSetupDlg::Execute] orbsetup.txt Begin",
        L"[Normal][CSetupDlg::Execute] core.zip;1;1\r\nyahei.zip;2;2\r\nplain.zip;3;3\r\nbad kind.zip;4;x\r\n"
        L" spaced name.zip ;5;9\r\nskipped;line\r\n",
        L"[Normal][CSetupDlg::Execute] orbsetup.txt End",
        L"[Normal][CSetupDlg::Execute] download orbsetup.txt sccuss",
    };
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::wstring>(lines.end() - static_cast<long>(expected.size()), lines.end()));
}

TEST_F(ExecuteTest, Missing)
{
    ExpectFailure(L"下载Setupconfig.txt失败", L"[Error][CSetupDlg::Execute] download Setupconfig.txt failed");
}

TEST_F(ExecuteTest, TooShort)
{
    ExpectFailure(L"下载Setupconfig.txt失败", L"[Error][CSetupDlg::Execute] download Setupconfig.txt faile");
}

TEST_F(ExecuteTest, Empty)
{
    ExpectFailure(L"下载Setupconfig.txt失败", L"[Error][CSetupDlg::Execute] download Setupconfig.txt faile");
}

// The mark and one byte: enough bytes, but a text that holds no entry.
TEST_F(ExecuteTest, ThreeBytes)
{
    ExpectFailure(L"orbsetup.txt为空", L"[Error][CSetupDlg::Execute]Setupconfig.txt no content");
}

TEST_F(ExecuteTest, LineFeedsOnly)
{
    ExpectFailure(L"orbsetup.txt为空", L"[Error][CSetupDlg::Execute]Setupconfig.txt no content");
}

TEST_F(ExecuteTest, NoContent)
{
    ExpectFailure(L"orbsetup.txt为空", L"[Error][CSetupDlg::Execute]Setupconfig.txt no content");
}

TEST_F(ExecuteTest, Garbage)
{
    int nCount = 0;
    bool bOk = m_dlg.Execute(&nCount);
    EXPECT_EQ(bOk, !m_dlg.m_vecPackages.empty());
    for (const PackageEntry& entry : m_dlg.m_vecPackages)
        EXPECT_LT(wcslen(entry.szName), 32u);
}

// Through the authenticating proxy: the driver answers the one credentials dialog.
TEST_F(ExecuteTest, ThroughProxyAsksOnce)
{
    int nCount = 0;
    ASSERT_TRUE(m_dlg.Execute(&nCount));
    EXPECT_STREQ(L"mirevale", m_dlg.m_szProxyUser);
    // Every caller hands Execute an emptied receive buffer.
    memset(m_dlg.m_pRecvBuf, 0, static_cast<size_t>(m_dlg.m_nRecvBufSize));
    m_dlg.m_nRecvLen = 0;
    nCount = 0;
    ASSERT_TRUE(m_dlg.Execute(&nCount)) << "the second fetch reuses the credentials";
    EXPECT_EQ(5, nCount);
}

// Through the authenticating proxy: the driver cancels, or types refused credentials.
TEST_F(ExecuteTest, ThroughProxyRefused)
{
    ExpectFailure(L"下载Setupconfig.txt失败", L"[Error][CSetupDlg::Execute] download Setupconfig.txt failed");
}

} // namespace
