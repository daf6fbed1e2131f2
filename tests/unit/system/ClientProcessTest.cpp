#include <gtest/gtest.h>
#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "../../tools/SystemClientStub.h"
#include "SystemTestSupport.h"
#include "TestFiles.h"
#include "support/Handles.h"
#include "system/ClientProcess.h"

namespace {

// Generous bound for a stub to come up; only a hung Wine reaches it.
const DWORD s_dwStartWait = 60 * 1000;

std::wstring StubProgram()
{
    WCHAR sz[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring str(sz);
    return str.substr(0, str.find_last_of(L'\\')) + L"\\system_client_stub.exe";
}

std::wstring Lower(std::wstring str)
{
    for (wchar_t& ch : str)
        ch = static_cast<wchar_t>(towlower(ch));
    return str;
}

std::wstring Upper(std::wstring str)
{
    for (wchar_t& ch : str)
        ch = static_cast<wchar_t>(towupper(ch));
    return str;
}

// One running stand-in client, ended when the object goes: it is told to exit, and killed should it not.
class CRunningStub {
public:
    // Before the stub starts, so that it cannot miss the signals.
    explicit CRunningStub(const std::wstring& strFolder)
        : m_ready(CreateEventW(nullptr, TRUE, FALSE, StubReadyEvent(strFolder).c_str()))
        , m_exit(CreateEventW(nullptr, TRUE, FALSE, StubExitEvent(strFolder).c_str()))
    {
    }
    ~CRunningStub()
    {
        SetEvent(m_exit.Get());
        if (m_process && WaitForSingleObject(m_process.Get(), 30 * 1000) != WAIT_OBJECT_0) {
            TerminateProcess(m_process.Get(), 1);
            WaitForSingleObject(m_process.Get(), INFINITE);
        }
    }
    CRunningStub(const CRunningStub&) = delete;
    CRunningStub& operator=(const CRunningStub&) = delete;

    // Starts strProgram with strWorkDir as its working folder and waits until it runs.
    bool Start(const std::wstring& strProgram, const std::wstring& strWorkDir)
    {
        std::wstring strCommand = L"\"" + strProgram + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(strProgram.c_str(), strCommand.data(), nullptr, nullptr, FALSE, 0, nullptr,
                strWorkDir.c_str(), &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        m_process.Attach(pi.hProcess);
        return WaitReady();
    }

    // For a stub that someone else started: its process is found through the id in its marker.
    bool Adopt(const std::wstring& strFolder)
    {
        if (!WaitReady())
            return false;
        std::wstring strMarker = Utf16(ReadFileBytes(StubMarkerPath(strFolder)));
        DWORD dwId = wcstoul(strMarker.c_str(), nullptr, 10);
        m_process.Attach(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, dwId));
        return m_process.IsValid();
    }

    bool WaitReady() const { return WaitForSingleObject(m_ready.Get(), s_dwStartWait) == WAIT_OBJECT_0; }

private:
    CKernelHandle m_ready;
    CKernelHandle m_exit;
    CKernelHandle m_process;
};

std::vector<std::wstring> PathRecords(const CTestLog& log)
{
    std::vector<std::wstring> records;
    for (const std::wstring& str : log.Messages())
        if (str.find(L"[FindProcess]") == 0)
            records.push_back(str);
    return records;
}

class ClientProcessTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strSetup = MakeTempFolder(L"Larkspire");
        m_strOther = MakeTempFolder(L"other");
        ASSERT_TRUE(CopyFileW(StubProgram().c_str(), (m_strSetup + L"\\iQorRemote.exe").c_str(), FALSE))
            << Narrow(StubProgram());
        ASSERT_TRUE(CopyFileW(StubProgram().c_str(), (m_strOther + L"\\iQorRemote.exe").c_str(), FALSE));
    }

    CTestLog m_log;
    std::wstring m_strSetup;
    std::wstring m_strOther;
};

TEST_F(ClientProcessTest, OnlyTheClientRunningFromTheInstallFolderCounts)
{
    CRunningStub other(m_strOther);
    ASSERT_TRUE(other.Start(m_strOther + L"\\iQorRemote.exe", m_strOther));

    const std::wstring strOtherRecord = L"[FindProcess] Path=" + m_strOther + L"\\iQorRemote.exe";
    const std::wstring strSetupRecord = L"[FindProcess] Path=" + m_strSetup + L"\\iQorRemote.exe";
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", m_strSetup.c_str()));
    EXPECT_EQ(std::vector<std::wstring> {strOtherRecord}, PathRecords(m_log));

    CRunningStub installed(m_strSetup);
    ASSERT_TRUE(installed.Start(m_strSetup + L"\\iQorRemote.exe", m_strSetup));

    EXPECT_TRUE(FindProcess(L"iQorRemote.exe", m_strSetup.c_str()));
    // The walk stops at the installed client; the other one is logged only when the snapshot met it first.
    std::vector<std::wstring> records = PathRecords(m_log);
    std::vector<std::wstring> expectedOrders[]
        = {{strOtherRecord, strSetupRecord}, {strOtherRecord, strOtherRecord, strSetupRecord}};
    EXPECT_TRUE(records == expectedOrders[0] || records == expectedOrders[1]) << Narrow(m_log.Text());

    // The formed path would hold a doubled separator: never a match.
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", (m_strSetup + L"\\").c_str()));
}

TEST_F(ClientProcessTest, FileNameAndFolderMatchWithoutRegardToLetterCase)
{
    std::wstring strUpperProgram = m_strSetup + L"\\IQORREMOTE.EXE";
    ASSERT_TRUE(DeleteFileW((m_strSetup + L"\\iQorRemote.exe").c_str()));
    ASSERT_TRUE(CopyFileW(StubProgram().c_str(), strUpperProgram.c_str(), FALSE));
    CRunningStub installed(m_strSetup);
    ASSERT_TRUE(installed.Start(Lower(m_strSetup) + L"\\IQORREMOTE.EXE", m_strSetup));

    EXPECT_TRUE(FindProcess(L"iQorRemote.exe", m_strSetup.c_str()));
    EXPECT_TRUE(FindProcess(L"IQORREMOTE.EXE", Upper(m_strSetup).c_str()));
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", m_strOther.c_str()));
}

TEST_F(ClientProcessTest, WithoutACandidateTheAnswerIsFalseAndNothingIsLogged)
{
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", m_strSetup.c_str()));
    EXPECT_FALSE(FindProcess(L"", m_strSetup.c_str()));
    EXPECT_FALSE(FindProcess(nullptr, m_strSetup.c_str()));
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", L""));
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", nullptr));
    EXPECT_TRUE(m_log.Messages().empty());
}

// A formed path cut to 259 characters could equal a cut module path of another program.
TEST_F(ClientProcessTest, FolderTooLongForThePathBufferNeverMatches)
{
    std::wstring strFolder = L"C:\\" + std::wstring(250, L'x');
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", strFolder.c_str()));
    std::vector<std::wstring> messages = m_log.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0u, messages[0].find(L"[FindProcess] path longer than 259 characters, step skipped: "));
}

TEST(EnableDebugPrivilegeTest, LeavesTheDebugPrivilegeEnabledWhereTheTokenHoldsIt)
{
    EXPECT_TRUE(EnableDebugPrivilege());

    LUID luid;
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &luid));
    CKernelHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()));
    DWORD cb = 0;
    GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &cb);
    std::vector<BYTE> buffer(cb);
    ASSERT_TRUE(GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), cb, &cb));
    const auto* pPrivileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    bool bHeld = false;
    for (DWORD i = 0; i < pPrivileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = pPrivileges->Privileges[i];
        if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
            bHeld = true;
            EXPECT_TRUE(entry.Attributes & SE_PRIVILEGE_ENABLED);
        }
    }
    EXPECT_TRUE(bHeld) << "an administrator's token holds SeDebugPrivilege";
}

TEST_F(ClientProcessTest, LaunchStartsTheInstalledClientInTheInstallFolder)
{
    CRunningStub client(m_strSetup);
    std::wstring strElsewhere = MakeTempFolder(L"elsewhere");
    WCHAR szSaved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, szSaved);
    ASSERT_TRUE(SetCurrentDirectoryW(strElsewhere.c_str()));

    StartClient(m_strSetup.c_str());

    SetCurrentDirectoryW(szSaved);
    ASSERT_TRUE(client.Adopt(m_strSetup));
    std::wstring strMarker = Utf16(ReadFileBytes(StubMarkerPath(m_strSetup)));
    size_t nLine = strMarker.find(L"\r\n");
    ASSERT_NE(std::wstring::npos, nLine);
    EXPECT_EQ(Lower(m_strSetup + L"\r\n"), Lower(strMarker.substr(nLine + 2)));
    EXPECT_FALSE(ReadFileBytes(StubMarkerPath(m_strOther)).size() > 0) << "the copy elsewhere stays put";
    EXPECT_TRUE(FindProcess(L"iQorRemote.exe", m_strSetup.c_str()));
}

// Returning at all shows that no error box waits for a click.
TEST_F(ClientProcessTest, LaunchOfAMissingOrDamagedClientIsSilent)
{
    std::wstring strEmpty = MakeTempFolder(L"empty");
    StartClient(strEmpty.c_str());

    std::wstring strDamaged = MakeTempFolder(L"damaged");
    ASSERT_TRUE(WriteFileBytes(strDamaged + L"\\iQorRemote.exe", "MZ not a program", 16));
    StartClient(strDamaged.c_str());

    EXPECT_TRUE(m_log.Messages().empty());
    EXPECT_FALSE(FindProcess(L"iQorRemote.exe", strDamaged.c_str()));
}

} // namespace
