#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"

// Runs of an installer with a release key (MIREVALE_TEST_RELEASE_KEY) against signed releases of
// p01.zip and p02.zip (kind 1), in which tests/e2e/test_run.py has spoiled what each case names; it
// also checks the record that names the refused file and the reason.

namespace {

const WCHAR REFUSED[] = L"安装包签名无效";
const std::wstring CHECK = L"[CSetupDlg::CheckRelease] ";

bool Installed(int n)
{
    return FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p0" + std::to_wstring(n) + L".dat");
}

using RunSignedTest = RunTest;

TEST_F(RunSignedTest, DamagedPackageIsRetriedAndTheSignedReleaseInstalls)
{
    ASSERT_FALSE(g_strReleaseKey.empty()) << "a signed run needs MIREVALE_TEST_RELEASE_KEY";
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
    std::vector<LogRecord> records = ReadRunLog();
    int nValid = FindRecord(records, CHECK + L"release.sha256 signature valid, 5 files listed");
    ASSERT_GE(nValid, 0);
    EXPECT_LT(nValid, FindRecord(records, L"[CSetupDlg::Execute] start download  ")) << "checked before the manifest";
    int nDamaged = FindRecord(records, CHECK + L"p01.zip hash mismatch");
    ASSERT_GE(nDamaged, 0);
    EXPECT_EQ(L"[CSetupDlg::Execute] 1 download " + g_strBaseUrl + L"p01.zip failed",
        records[static_cast<size_t>(nDamaged) + 1].strText)
        << "a body that does not match is a failed attempt";
    for (const wchar_t* pszName : {L"orbsetup.txt", L"p01.zip", L"p02.zip", L"UnInstall.exe", L"filecrc.txt"})
        EXPECT_EQ(1, CountRecords(records, CHECK + pszName + L" matches")) << Narrow(pszName);
    EXPECT_TRUE(Installed(1) && Installed(2));
}

TEST_F(RunSignedTest, RefusedListOrManifestChangesNothing)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(REFUSED);
    EXPECT_EQ(std::vector<std::wstring> {REFUSED}, m_dlg->StatusTexts());
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    EXPECT_TRUE(FileExists(OLD_FILE)) << "nothing is deleted";
    EXPECT_FALSE(FileExists(TEMP_FOLDER + std::wstring(L"\\p01.zip")));
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(0u, records.back().strText.find(CHECK)) << Narrow(records.back().strText);
    ExpectNoCompletion();
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_RELEASE_REFUSED), m_dlg->ExitCode());
}

TEST_F(RunSignedTest, RefusedPackageIsNeverWrittenOrExtracted)
{
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"下载p02.zip失败");
    EXPECT_EQ(5, CountRecords(ReadRunLog(), CHECK + L"p02.zip ")) << "five attempts, each refused";
    EXPECT_TRUE(Installed(1));
    EXPECT_FALSE(Installed(2));
    EXPECT_FALSE(FileExists(TEMP_FOLDER + std::wstring(L"\\p02.zip")));
    ExpectNoCompletion();
    // Each attempt was refused by its hash.
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_RELEASE_REFUSED), m_dlg->ExitCode());
}

TEST_F(RunSignedTest, RefusedFileAfterThePackagesEndsTheRunUnregistered)
{
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(REFUSED);
    EXPECT_TRUE(Installed(1) && Installed(2));
    std::vector<LogRecord> records = ReadRunLog();
    EXPECT_EQ(-1, FindRecord(records, L"[CSetupDlg::CheckFileCRC] data\\p01.dat loacalCRC="))
        << "the CRC list is read only when it is the signed one";
    ExpectNoCompletion();
}

} // namespace
