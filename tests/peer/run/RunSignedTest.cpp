#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"
#include "system/UninstallEntry.h"

// Runs of an installer with a release key (MIREVALE_TEST_RELEASE_KEY) against signed releases of
// p01.zip and p02.zip (kind 1), in which tests/e2e/test_run.py has spoiled what each case names, or
// whose terms (serial, expiry) it has chosen; it also checks the record that names the refused file
// and the reason.

namespace {

const WCHAR REFUSED[] = L"安装包签名无效";
const std::wstring CHECK = L"[CSetupDlg::CheckRelease] ";
// The serial of the release an earlier run installed, where a case has one.
const long long INSTALLED_SERIAL = 5;

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

TEST_F(RunSignedTest, OlderReleaseIsRefusedAndChangesNothing)
{
    MakeOldInstallation();
    WriteUninstallEntry(INSTALL_FOLDER, L"", INSTALLED_SERIAL);
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"安装包比已安装的版本旧");
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    EXPECT_EQ(m_oldTree, SnapshotTree(INSTALL_FOLDER)) << "nothing moved, nothing deleted";
    EXPECT_TRUE(BackupFolders().empty());
    EXPECT_EQ(INSTALLED_SERIAL, ReadInstalledReleaseSerial());
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(0u, records.back().strText.find(CHECK + L"release.sha256 serial ")) << Narrow(records.back().strText);
    EXPECT_EQ(-1, FindRecord(records, L"[CSetupDlg::Execute] start download  ")) << "no manifest is asked for";
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_RELEASE_REFUSED), m_dlg->ExitCode());
}

TEST_F(RunSignedTest, SameOrNewerReleaseInstallsAndItsSerialIsRecorded)
{
    MakeOldInstallation();
    WriteUninstallEntry(INSTALL_FOLDER, L"", INSTALLED_SERIAL);
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
    EXPECT_FALSE(FileExists(OLD_FILE));
    EXPECT_TRUE(Installed(1) && Installed(2));
    EXPECT_GE(m_dlg->m_release.Terms().nSerial, INSTALLED_SERIAL);
    EXPECT_EQ(m_dlg->m_release.Terms().nSerial, ReadInstalledReleaseSerial());
}

TEST_F(RunSignedTest, ExpiredListIsRefusedWithItsDate)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    // test_run.py lets the list expire at 2020-09-13 12:00 UTC; the message gives the machine's own time,
    // which is that day in every time zone but the farthest.
    std::vector<std::wstring> texts = m_dlg->StatusTexts();
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(0u, texts[0].find(L"安装包已于2020-09-13 ")) << Narrow(texts[0]);
    const std::wstring strEnd = L"过期，请检查电脑的日期和时间";
    EXPECT_EQ(texts[0].size() - strEnd.size(), texts[0].rfind(strEnd)) << Narrow(texts[0]);
    ExpectFailureShown(texts[0]);
    EXPECT_EQ(m_oldTree, SnapshotTree(INSTALL_FOLDER));
    ExpectNoCompletion();
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_RELEASE_REFUSED), m_dlg->ExitCode());
}

// The base URL refuses connections; the first mirror serves the release with a p02.zip that is not the
// listed one, the second the release itself (MIREVALE_TEST_MIRRORS).
TEST_F(RunSignedTest, MirrorsStandInForAServerThatFailsOrServesWhatTheListRefuses)
{
    ASSERT_EQ(2u, g_vecMirrorUrls.size());
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
    std::vector<LogRecord> records = ReadRunLog();
    const std::wstring FALLBACK = L"[CSetupDlg::Execute] fallback from ";
    for (const wchar_t* pszName :
        {L"release.sha256", L"orbsetup.txt", L"p01.zip", L"p02.zip", L"UnInstall.exe", L"filecrc.txt"}) {
        EXPECT_EQ(1, CountRecords(records, FALLBACK + g_strBaseUrl + pszName + L" to " + g_vecMirrorUrls[0] + pszName))
            << Narrow(pszName);
    }
    EXPECT_EQ(1, CountRecords(records, CHECK + L"p02.zip hash mismatch"));
    EXPECT_EQ(
        1, CountRecords(records, FALLBACK + g_vecMirrorUrls[0] + L"p02.zip to " + g_vecMirrorUrls[1] + L"p02.zip"));
    EXPECT_EQ(7, CountRecords(records, FALLBACK)) << "nothing else fell back";
    EXPECT_TRUE(Installed(1) && Installed(2));
    EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p0X.dat"));
}

} // namespace
