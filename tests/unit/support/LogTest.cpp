#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "support/Log.h"

namespace {

class LogTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_folder = MakeTempFolder(L"log");
        m_strPath = m_folder + L"\\log.txt";
        wcscpy(g_szLogPath, m_strPath.c_str());
    }
    void TearDown() override { g_szLogPath[0] = L'\0'; }

    std::wstring m_folder;
    std::wstring m_strPath;
};

// The stamp of one record: tag, locale date and time, milliseconds right-aligned in three columns,
// process and thread id in lower-case hex of at least four digits.
std::wstring StampPattern(const std::wstring& strTag, DWORD dwThreadId)
{
    wchar_t szIds[64];
    swprintf(szIds, 64, L"%04x:%04x", GetCurrentProcessId(), dwThreadId);
    return L"\\[" + strTag + L"\\]\\[\\d{4}/\\d{1,2}/\\d{1,2} \\d{1,2}:\\d{2}:\\d{2}:(  \\d| \\d\\d|\\d\\d\\d) " + szIds
        + L"\\]";
}

TEST_F(LogTest, RecordsFollowTheLayoutLetterForLetter)
{
    LogError(L"[HttpDownload  InternetOpen]  error=%lu", 12029UL);
    LogNormal(L"[CSetupDlg::Execute] %s", L"100%s%d of it");
    LogNormal(L"");

    std::vector<BYTE> bytes = ReadFileBytes(m_strPath);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(bytes[0] == 0xFF && bytes[1] == 0xFE) << "no byte-order mark";
    std::wstring strText = Utf16(bytes);

    std::wstring strStamp = StampPattern(L"Error", GetCurrentThreadId());
    std::wregex expected(StampPattern(L"Error", GetCurrentThreadId())
        + L"\\[HttpDownload  InternetOpen\\]  error=12029\r\n" + StampPattern(L"Normal", GetCurrentThreadId())
        + L"\\[CSetupDlg::Execute\\] 100%s%d of it\r\n" + StampPattern(L"Normal", GetCurrentThreadId()) + L"\r\n");
    EXPECT_TRUE(std::regex_match(strText, expected)) << Narrow(strText);
}

TEST_F(LogTest, ChineseLocaleGivesYearMonthDayAndTwentyFourHourTime)
{
    LogNormal(L"[x]");
    std::wstring strText = Utf16(ReadFileBytes(m_strPath));
    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szDate[32];
    swprintf(szDate, 32, L"[Normal][%d/%d/%d ", st.wYear, st.wMonth, st.wDay);
    EXPECT_EQ(0u, strText.find(szDate)) << Narrow(strText);
}

TEST_F(LogTest, RecordBeforeThePathIsSetReachesOnlyTheDebugger)
{
    g_szLogPath[0] = L'\0';
    LogError(L"[early] before the path");
    wcscpy(g_szLogPath, m_strPath.c_str());
    LogNormal(L"[late] after the path");

    std::wstring strText = Utf16(ReadFileBytes(m_strPath));
    EXPECT_EQ(std::wstring::npos, strText.find(L"[early]"));
    EXPECT_NE(std::wstring::npos, strText.find(L"[late] after the path\r\n"));
}

TEST_F(LogTest, RecordIsDroppedWhileTheFolderIsMissingAndWrittenOnceItExists)
{
    std::wstring strFolder = m_folder + L"\\temp";
    std::wstring strPath = strFolder + L"\\log.txt";
    wcscpy(g_szLogPath, strPath.c_str());

    LogNormal(L"[lost] folder missing");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strPath.c_str()));

    ASSERT_TRUE(CreateDirectoryW(strFolder.c_str(), nullptr));
    LogNormal(L"[kept] folder back");
    std::wstring strText = Utf16(ReadFileBytes(strPath));
    EXPECT_EQ(std::wstring::npos, strText.find(L"[lost]"));
    EXPECT_NE(std::wstring::npos, strText.find(L"[kept] folder back\r\n"));
}

TEST_F(LogTest, ConcurrentWritersLoseNoRecordAndNeverInterleave)
{
    const int nThreads = 8;
    const int nRecords = 400;
    std::vector<std::thread> threads;
    std::vector<DWORD> ids(nThreads);
    for (int t = 0; t < nThreads; ++t) {
        threads.emplace_back([t, &ids] {
            ids[t] = GetCurrentThreadId();
            for (int i = 0; i < nRecords; ++i)
                LogNormal(L"[Writer] thread=%d record=%d %s", t, i, L"padding padding padding padding");
        });
    }
    for (auto& th : threads)
        th.join();

    std::wstring strText = Utf16(ReadFileBytes(m_strPath));
    std::vector<int> next(nThreads, 0);
    size_t nLines = 0;
    size_t pos = 0;
    while (pos < strText.size()) {
        size_t end = strText.find(L"\r\n", pos);
        ASSERT_NE(std::wstring::npos, end) << "record without CR LF at " << pos;
        std::wstring strLine = strText.substr(pos, end - pos);
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(strLine, m,
            std::wregex(L"\\[Normal\\]\\[[^\\]]+ ([0-9a-f]{4,}):([0-9a-f]{4,})\\]"
                        L"\\[Writer\\] thread=(\\d+) record=(\\d+) padding padding padding padding")))
            << Narrow(strLine);
        int t = std::stoi(m[3].str());
        ASSERT_LT(t, nThreads);
        EXPECT_EQ(ids[t], std::stoul(m[2].str(), nullptr, 16));
        EXPECT_EQ(next[t], std::stoi(m[4].str())) << "records of one thread arrive in order";
        next[t] = std::stoi(m[4].str()) + 1;
        ++nLines;
        pos = end + 2;
    }
    EXPECT_EQ(static_cast<size_t>(nThreads * nRecords), nLines);
}

TEST_F(LogTest, AppendLogFileIgnoresEmptyPathOrText)
{
    AppendLogFile(nullptr, L"x");
    AppendLogFile(L"", L"x");
    AppendLogFile(m_strPath.c_str(), L"");
    AppendLogFile(m_strPath.c_str(), nullptr);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_strPath.c_str()));
    AppendLogFile(m_strPath.c_str(), L"ab");
    AppendLogFile(m_strPath.c_str(), L"c");
    EXPECT_EQ(std::wstring(L"abc"), Utf16(ReadFileBytes(m_strPath)));
}

} // namespace
