#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "net/DownloadState.h"
#include "net/HttpDownload.h"
#include "support/Log.h"

// Runs against the servers tests/e2e/test_net.py starts: nginx with the files it makes
// (MIREVALE_TEST_BASE_URL) and the scripted fault server (MIREVALE_TEST_FAULT_URL).

namespace {

std::wstring Env(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz != nullptr ? psz : L"";
}

// The byte every served test file has at offset i.
BYTE PatternByte(size_t i)
{
    return static_cast<BYTE>((i * 7 + 3) & 0xFF);
}

// A caller's receive block, as the installer keeps one.
struct Block {
    explicit Block(int nCapacity)
        : nCapacity(nCapacity)
    {
        pBuffer = new BYTE[static_cast<size_t>(nCapacity)]();
    }
    ~Block() { delete[] pBuffer; }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    BYTE* pBuffer;
    int nLength = 0;
    int nCapacity;
    WCHAR szUser[64] = {};
    WCHAR szPassword[64] = {};

    int Fetch(const std::wstring& strUrl, CDownloadState* pState = nullptr)
    {
        return HttpDownload(strUrl.c_str(), &pBuffer, &nLength, &nCapacity, szUser, szPassword, nullptr, pState);
    }
    // As a connection that dropped after nKept bytes of the body leaves the block.
    void CutAt(int nKept)
    {
        memset(pBuffer + nKept, 0, static_cast<size_t>(nLength - nKept));
        nLength = nKept;
    }
    // A block holding nHeld bytes of another body.
    void HoldOther(int nHeld)
    {
        memset(pBuffer, 0xAB, static_cast<size_t>(nHeld));
        nLength = nHeld;
    }
    bool HoldsPatternFrom(int nOffset, int nCount) const
    {
        for (int i = 0; i < nCount; ++i) {
            if (pBuffer[nOffset + i] != PatternByte(static_cast<size_t>(i)))
                return false;
        }
        return true;
    }
    bool ZeroFrom(int nOffset) const
    {
        for (int i = nOffset; i < nCapacity; ++i) {
            if (pBuffer[i] != 0)
                return false;
        }
        return true;
    }
};

class HttpDownloadTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strBase = Env(L"MIREVALE_TEST_BASE_URL");
        m_strFault = Env(L"MIREVALE_TEST_FAULT_URL");
        ASSERT_FALSE(m_strBase.empty()) << "run through tests/e2e/test_net.py";
        m_folder = MakeTempFolder(L"http");
        wcscpy(g_szLogPath, (m_folder + L"\\log.txt").c_str());
    }
    void TearDown() override { g_szLogPath[0] = L'\0'; }
    std::wstring Log() { return Utf16(ReadFileBytes(m_folder + L"\\log.txt")); }
    bool LogMatches(const std::wstring& strPattern)
    {
        std::wstring strLog = Log();
        return std::regex_search(strLog, std::wregex(strPattern));
    }

    std::wstring m_strBase;
    std::wstring m_strFault;
    std::wstring m_folder;
};

TEST_F(HttpDownloadTest, AppendsTheBodyAtTheCountAndLeavesTheRestZero)
{
    Block block(100000);
    memcpy(block.pBuffer, "head", 4);
    block.nLength = 4;
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p5000.bin"));
    EXPECT_EQ(5004, block.nLength);
    EXPECT_EQ(100000, block.nCapacity);
    EXPECT_EQ(0, memcmp(block.pBuffer, "head", 4));
    EXPECT_TRUE(block.HoldsPatternFrom(4, 5000));
    EXPECT_TRUE(block.ZeroFrom(5004));
    EXPECT_EQ(L"", Log()) << "a plain success writes no record";
}

TEST_F(HttpDownloadTest, EmptyBodyLeavesTheCountUnchanged)
{
    Block block(1000);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"empty.bin"));
    EXPECT_EQ(0, block.nLength);
    EXPECT_TRUE(block.ZeroFrom(0));
}

TEST_F(HttpDownloadTest, BodyThatExactlyFillsTheBlockDoesNotGrowIt)
{
    Block block(100000);
    BYTE* pBefore = block.pBuffer;
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin"));
    EXPECT_EQ(100000, block.nLength);
    EXPECT_EQ(100000, block.nCapacity);
    EXPECT_EQ(pBefore, block.pBuffer);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 100000));
}

TEST_F(HttpDownloadTest, OneByteMoreGrowsTheBlockToTheBodyPlusOneMebibyte)
{
    Block block(100000);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100001.bin"));
    EXPECT_EQ(100001, block.nLength);
    EXPECT_EQ(100001 + 1048576, block.nCapacity);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 100001));
    EXPECT_TRUE(block.ZeroFrom(100001));
}

TEST_F(HttpDownloadTest, TenMebibyteBlockTakesTenMebibytesAndReservesOnceForMore)
{
    Block exact(0xA00000);
    ASSERT_EQ(1, exact.Fetch(m_strBase + L"p10485760.bin"));
    EXPECT_EQ(0xA00000, exact.nLength);
    EXPECT_EQ(0xA00000, exact.nCapacity);

    // A declared body several times the block is reserved whole at the first growth.
    Block large(0xA00000);
    memcpy(large.pBuffer, "xy", 2);
    large.nLength = 2;
    ASSERT_EQ(1, large.Fetch(m_strBase + L"p36700160.bin"));
    EXPECT_EQ(2 + 36700160, large.nLength);
    EXPECT_EQ(2 + 36700160 + 1048576, large.nCapacity);
    EXPECT_EQ(0, memcmp(large.pBuffer, "xy", 2));
    EXPECT_TRUE(large.HoldsPatternFrom(2, 36700160));
    EXPECT_TRUE(large.ZeroFrom(2 + 36700160));
}

// Records the bytes held that a download reports.
void NoteHeld(void* pContext, DWORD dwHeld, DWORD)
{
    static_cast<std::vector<DWORD>*>(pContext)->push_back(dwHeld);
}

TEST_F(HttpDownloadTest, CutOffBodyIsContinuedWithTheRangeNginxSends)
{
    Block block(200000);
    CDownloadState state;
    std::vector<DWORD> held;
    state.SetProgress(NoteHeld, &held);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin", &state));
    EXPECT_EQ(L"", Log()) << "a whole body at the first request writes no record";
    ASSERT_FALSE(held.empty());
    EXPECT_TRUE(std::is_sorted(held.begin(), held.end()));
    EXPECT_EQ(100000u, held.back());

    block.CutAt(40000);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin", &state));
    EXPECT_EQ(100000, block.nLength);
    EXPECT_EQ(200000, block.nCapacity);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 100000));
    EXPECT_TRUE(LogMatches(L"^\\[Normal\\]\\[[^\\]]+\\]\\[HttpDownload  Range\\]  resume at 40000 of 100000\\r\\n$"))
        << Narrow(Log());
}

// A 206 that ends short without a length of its own, as a proxy may pass one on: the body is not whole
// before it reaches the length the first response declared, and what arrived stays for the next attempt.
TEST_F(HttpDownloadTest, ContinuedBodyShortOfItsWholeLengthFails)
{
    ASSERT_FALSE(m_strFault.empty());
    Block block(200000);
    CDownloadState state;
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin", &state));
    block.CutAt(40000);
    EXPECT_EQ(0, block.Fetch(m_strFault + L"short-rest/100000/30000", &state));
    EXPECT_EQ(70000, block.nLength);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 70000));
    EXPECT_TRUE(LogMatches(L"incomplete body size=70000 Content-Length=100000\\r\\n$")) << Narrow(Log());
    EXPECT_TRUE(state.CanResume(block.nLength));
}

TEST_F(HttpDownloadTest, HeldPartOfAnotherBodyGivesWayToTheWholeBody)
{
    Block block(300000);
    CDownloadState state;
    // A validator nginx does not know: it answers with the whole body.
    state.BeginBody(0, L"\"changed\"", L"", true, 100000);
    block.HoldOther(40000);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin", &state));
    EXPECT_EQ(100000, block.nLength);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 100000));
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  Range\\]  status=200 Content-Range=: the whole body again"));
    EXPECT_STRNE(L"\"changed\"", state.m_szValidator) << "the new body's validator is noted";

    // nginx's validator, but more held than the file now has: a 416, then the whole body in the same call.
    state.m_dwTotal = 200000;
    block.HoldOther(150000);
    ASSERT_EQ(1, block.Fetch(m_strBase + L"p100000.bin", &state));
    EXPECT_EQ(100000, block.nLength);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 100000));
    EXPECT_TRUE(block.ZeroFrom(100000)) << "the dropped part is cleared";
    EXPECT_TRUE(LogMatches(L"status=416 Content-Range=bytes \\*/100000: the whole body again")) << Narrow(Log());
}

TEST_F(HttpDownloadTest, BodyWithoutDeclaredLengthGrowsByTheReadPlusSlack)
{
    ASSERT_FALSE(m_strFault.empty());
    Block block(1000);
    CDownloadState state;
    std::vector<DWORD> held;
    state.SetProgress(NoteHeld, &held);
    ASSERT_EQ(1, block.Fetch(m_strFault + L"chunked/20000", &state));
    EXPECT_TRUE(held.empty()) << "no progress without a length to measure it against";
    EXPECT_FALSE(state.CanResume(10000));
    EXPECT_EQ(20000, block.nLength);
    EXPECT_TRUE(block.HoldsPatternFrom(0, 20000));
    EXPECT_GE(block.nCapacity, 20000);
    EXPECT_LE(block.nCapacity, 20000 + 1048576);
    EXPECT_TRUE(block.ZeroFrom(20000));
}

TEST_F(HttpDownloadTest, NotFoundFailsWithTheStatusRecordAndReadsNothing)
{
    Block block(1000);
    EXPECT_EQ(0, block.Fetch(m_strBase + L"missing.bin"));
    EXPECT_EQ(0, block.nLength);
    EXPECT_TRUE(LogMatches(L"^\\[Error\\]\\[[^\\]]+\\]\\[HttpDownload  HttpQueryInfo\\[HTTP_QUERY_STATUS_CODE\\]\\]  "
                           L"error=\\d+\\r\\n$"))
        << Narrow(Log());
}

TEST_F(HttpDownloadTest, ServerErrorFails)
{
    Block block(1000);
    EXPECT_EQ(0, block.Fetch(m_strFault + L"status/500"));
    EXPECT_EQ(0, block.nLength);
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  HttpQueryInfo\\[HTTP_QUERY_STATUS_CODE\\]\\]  error=\\d+"));
}

// Here no proxy serves the requests: a 407 fails the download, and the credentials dialog never opens
// (were it to open, it is cancelled, so that the case fails instead of waiting for an answer).
TEST_F(HttpDownloadTest, A407FromAServerThatIsNoProxyFailsWithoutTheDialog)
{
    std::atomic<bool> bDone {false};
    std::atomic<bool> bDialog {false};
    std::thread watcher([&] {
        while (!bDone) {
            if (HWND hDialog = FindWindowW(nullptr, L"代理验证")) {
                bDialog = true;
                PostMessageW(hDialog, WM_COMMAND, IDCANCEL, 0);
            }
            Sleep(50);
        }
    });
    Block block(1000);
    EXPECT_EQ(0, block.Fetch(m_strFault + L"status/407"));
    bDone = true;
    watcher.join();
    EXPECT_FALSE(bDialog) << "the credentials dialog opened";
    EXPECT_EQ(0, block.nLength);
    EXPECT_TRUE(LogMatches(L"status=407 from .*status/407, which no proxy serves\\r\\n$")) << Narrow(Log());
}

TEST_F(HttpDownloadTest, NullUrlFailsBeforeAnyConnection)
{
    Block block(10);
    EXPECT_EQ(0,
        HttpDownload(
            nullptr, &block.pBuffer, &block.nLength, &block.nCapacity, block.szUser, block.szPassword, nullptr));
    EXPECT_TRUE(LogMatches(L"\\]\\[HttpDownload  lpUrl\\]  lpUrl is null\\r\\n$"));
}

TEST_F(HttpDownloadTest, RefusedConnectionFailsAtTheOpenWithTheUrl)
{
    std::wstring strUrl = Env(L"MIREVALE_TEST_CLOSED_URL") + L"x.bin";
    Block block(10);
    EXPECT_EQ(0, block.Fetch(strUrl));
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  InternetOpenUrl\\]  error=\\d+ lpUrl="
        + std::regex_replace(strUrl, std::wregex(L"[.?*+^$()\\[\\]{}|\\\\]"), L"\\$&")))
        << Narrow(Log());
}

TEST_F(HttpDownloadTest, BodyCutShortOfItsDeclaredLengthFails)
{
    Block block(100000);
    EXPECT_EQ(0, block.Fetch(m_strFault + L"truncated/50000/20000"));
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  InternetReadFile\\]  incomplete body size=20000 Content-Length=50000"))
        << Narrow(Log());
}

TEST_F(HttpDownloadTest, DeclaredLengthBeyondWhatTheBlockCanHoldFailsAndKeepsTheBlock)
{
    Block block(16);
    BYTE* pBefore = block.pBuffer;
    memcpy(block.pBuffer, "keep", 4);
    block.nLength = 4;
    EXPECT_EQ(0, block.Fetch(m_strFault + L"huge"));
    EXPECT_EQ(pBefore, block.pBuffer);
    EXPECT_EQ(4, block.nLength);
    EXPECT_EQ(16, block.nCapacity);
    EXPECT_EQ(0, memcmp(block.pBuffer, "keep", 4));
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  InternetReadFile\\]  new buffer failed"));
}

TEST_F(HttpDownloadTest, ServerThatFallsSilentFailsAfterTheReceiveTimeout)
{
    // The server keeps the connection open for 40 s: only the 15 s receive time-out ends it sooner.
    Block block(1000);
    ULONGLONG ullStart = GetTickCount64();
    EXPECT_EQ(0, block.Fetch(m_strFault + L"stall/40"));
    ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    EXPECT_GE(ullElapsed, 14000u);
    EXPECT_LT(ullElapsed, 35000u);
    EXPECT_TRUE(LogMatches(L"\\[HttpDownload  InternetReadFile\\]  error=\\d+  size=\\d+\\r\\n$")) << Narrow(Log());
}

} // namespace
