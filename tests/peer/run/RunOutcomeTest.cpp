#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"
#include "support/Log.h"

// How the steps around the packages end a run. Served: p01.zip and p02.zip (kind 1, data\pNN.dat),
// with what each case lacks or spoils: no UnInstall.exe, a wrong CRC for data\p02.dat, no
// manifest, or a manifest without an entry.

namespace {

class RunOutcomeTest : public RunTest {
protected:
    // A manifest failure: only the message, and the old install folder untouched.
    void ExpectManifestFailure(const std::wstring& strMessage)
    {
        ExpectThreadsEnded(1);
        ExpectFailureShown(strMessage);
        EXPECT_EQ(std::vector<std::wstring> {strMessage}, m_dlg->StatusTexts());
        EXPECT_TRUE(m_dlg->ProgressPosts().empty());
        EXPECT_TRUE(FileExists(OLD_FILE)) << "the install folder is removed only after the manifest";
        ExpectNoCompletion();
    }
};

TEST_F(RunOutcomeTest, MissingUninstallerStillLeadsTo97AndTheCheck)
{
    m_dlg->ReleaseAfterProgress(2, L"UnInstall.exe");
    m_dlg->ReleaseAfterProgress(3, L"filecrc.txt");
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    EXPECT_EQ((std::vector<int> {47, 95, 97}), m_dlg->ProgressPosts());
    std::vector<LogRecord> records = ReadRunLog();
    int nFailed = FindRecord(records, L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed");
    ASSERT_GE(nFailed, 0);
    EXPECT_EQ(L"[Error]", records[static_cast<size_t>(nFailed)].strLevel);
    EXPECT_EQ(nFailed + 1, FindRecord(records, L"[CSetupDlg::Execute] filecrc.txt-url = " + g_strBaseUrl))
        << "the check follows at once";
    EXPECT_FALSE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\UnInstall.exe"));
    EXPECT_EQ((std::vector<std::wstring> {L"正在安装p01.zip ......", L"正在安装p02.zip ......"}), m_dlg->StatusTexts());
    EXPECT_TRUE(m_dlg->m_bConfirmClose.load());
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER)) << "a complete run although the uninstaller is missing";
}

TEST_F(RunOutcomeTest, CrcMismatchShowsTheCheckFailedAndRemovesNothing)
{
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"校验失败");
    std::vector<int> posts = m_dlg->ProgressPosts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(97, posts.back());
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(L"[Normal]", records.back().strLevel);
    EXPECT_EQ(L"[CSetupDlg::Execute] CheckFileCRC failed", records.back().strText);
    EXPECT_LT(0, FindRecord(records, L"[CSetupDlg::CheckFileCRC] data\\p02.dat CRC is not equal"));
    for (const wchar_t* pszFile : {L"\\data\\p01.dat", L"\\data\\p02.dat", L"\\UnInstall.exe"})
        EXPECT_TRUE(FileExists(INSTALL_FOLDER + std::wstring(pszFile))) << Narrow(pszFile);
    ExpectNoCompletion();
}

TEST_F(RunOutcomeTest, CrcMismatchPutsThePreviousInstallationBack)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"校验失败");
    ExpectOldInstallationBack();
    ExpectNoCompletion();
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_FAILED), m_dlg->ExitCode());
}

// Served: p01.zip, then p02.zip with 3 MiB stored, on a drive C: with 4 MiB left before the old
// installation is made: the archive is written, its extraction fills the drive.
TEST_F(RunOutcomeTest, FullDiskPutsThePreviousInstallationBack)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"安装p02.zip失败");
    ExpectOldInstallationBack();
    ExpectNoCompletion();
    EXPECT_GE(FindRecord(ReadRunLog(), L"[UnzipItem] write "), 0) << "the drive did not fill";
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_DISK_FULL), m_dlg->ExitCode());
}

// A program that holds the folder open without letting it be deleted keeps it from being renamed.
TEST_F(RunOutcomeTest, PreviousFolderThatCannotBeMovedFailsTheRunBeforeAnythingIsDeleted)
{
    MakeOldInstallation();
    HANDLE hHeld = CreateFileW(INSTALL_FOLDER, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    m_dlg->RunToEnd();
    CloseHandle(hHeld);

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"原安装目录正被使用，请关闭相关程序后重试");
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    ExpectOldInstallationBack();
    ExpectNoCompletion();
    std::vector<LogRecord> records = ReadRunLog();
    EXPECT_GE(FindRecord(records, L"[CSetupDlg::Execute] move C:\\Larkspire to C:\\Larkspire.previous-"), 0);
    EXPECT_EQ(-1, FindRecord(records, L"[CSetupDlg::Execute] download " + g_strBaseUrl + L"p01.zip"))
        << "a package was fetched";
}

TEST_F(RunOutcomeTest, MissingManifestEndsTheRunBeforeAnythingIsRemoved)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectManifestFailure(L"下载Setupconfig.txt失败");
}

TEST_F(RunOutcomeTest, ManifestWithoutEntriesEndsTheRunBeforeAnythingIsRemoved)
{
    MakeOldInstallation();
    m_dlg->RunToEnd();

    ExpectManifestFailure(L"orbsetup.txt为空");
}

// Without a drive list there is no install folder: the run ends at once with its message, before
// the manifest is fetched or anything is written.
TEST_F(RunOutcomeTest, NoInstallFolderEndsTheRunBeforeTheManifest)
{
    m_dlg->m_szSetupPath[0] = m_dlg->m_szTempPath[0] = m_dlg->m_szUnInstallPath[0] = L'\0';
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"安装失败");
    EXPECT_EQ(std::vector<std::wstring> {L"安装失败"}, m_dlg->StatusTexts());
    EXPECT_TRUE(m_dlg->ProgressPosts().empty());
    std::vector<LogRecord> records = ReadRunLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(L"[Error]", records.back().strLevel);
    EXPECT_EQ(L"[CSetupDlg::Execute] no install folder", records.back().strText);
    ExpectNoCompletion();
}

// tests/e2e/test_run.py replaces the install folder by a link to C:\\elsewhere while it holds a package
// or the uninstaller: nothing more is written there, and the client is not started from it.
TEST_F(RunOutcomeTest, InstallFolderReplacedByALinkDuringTheRunFailsIt)
{
    m_dlg->RunToEnd();

    ExpectThreadsEnded(1);
    ExpectFailureShown(L"安装失败");
    ExpectNoCompletion();
    std::vector<LogRecord> records = ReadRunLog();
    int nRecord
        = FindRecord(records, L"[CSetupDlg::Execute] install folder C:\\Larkspire is no longer the folder made");
    ASSERT_GE(nRecord, 0);
    EXPECT_EQ(L"[Error]", records[static_cast<size_t>(nRecord)].strLevel);
}

// C:\\temp is a link that test_run.py made before the installer started: the installer has no
// temporary folder and no log, and its run ends as one without an install folder.
TEST(RunLinkedTemporaryFolderTest, EndsTheRunBeforeTheManifest)
{
    if (_wgetenv(L"MIREVALE_TEST_TEMP_LINK") == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_run.py with C:\\temp made a link";
    ASSERT_TRUE(GetFileAttributesW(TEMP_FOLDER) & FILE_ATTRIBUTE_REPARSE_POINT);
    CObservedSetupDlg dlg;
    EXPECT_STREQ(L"", dlg.m_szTempPath);
    EXPECT_STREQ(L"", dlg.m_szSetupPath);
    EXPECT_STREQ(L"", g_szLogPath);
    dlg.m_setKinds = {1, 2};
    dlg.RunToEnd();

    EXPECT_EQ(1u, dlg.WorkerStatus());
    EXPECT_EQ(std::vector<std::wstring> {L"安装失败"}, dlg.StatusTexts());
    EXPECT_EQ(nullptr, dlg.Find(RunEvent::ARM_LAUNCH));
}

} // namespace
