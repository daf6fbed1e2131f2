#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"

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

} // namespace
