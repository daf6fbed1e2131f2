#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"

// Ten manifest entries of which eight are packages of kinds 1 and 2 (p01.zip to p08.zip, each
// bringing data\pNN.dat) and two are of kinds the machine does not install (s01.zip, s02.zip).
// The scripted file server holds UnInstall.exe and filecrc.txt until the window lets them go.

namespace {

class RunProgressTest : public RunTest {
protected:
    // Holds back the steps after the last package until the window has seen its progress.
    void HoldTheEndUntilSeen()
    {
        m_dlg->ReleaseAfterProgress(8, L"UnInstall.exe");
        m_dlg->ReleaseAfterProgress(9, L"filecrc.txt");
    }
    void ExpectEightPackagesShown()
    {
        std::vector<std::wstring> expected;
        for (int i = 1; i <= 8; ++i)
            expected.push_back(L"正在安装p0" + std::to_wstring(i) + L".zip ......");
        EXPECT_EQ(expected, m_dlg->StatusTexts()) << "skipped entries are never named";
        for (const RunEvent& event : m_dlg->m_events) {
            if (event.kind != RunEvent::STATUS_TEXT)
                continue;
            EXPECT_TRUE(event.bOtherThread);
            EXPECT_FALSE(event.bStatusVisible) << "the label stays hidden while nothing failed";
            EXPECT_NE(RGB(255, 0, 0), event.crStatus);
        }
        for (int i = 1; i <= 8; ++i)
            EXPECT_TRUE(FileExists(std::wstring(INSTALL_FOLDER) + L"\\data\\p0" + std::to_wstring(i) + L".dat")) << i;
        EXPECT_TRUE(m_dlg->m_bConfirmClose.load());
    }
    // The window's handler shows each posted value; the runner itself shows 100.
    void ExpectPercentTexts(const std::vector<int>& posts)
    {
        std::vector<std::wstring> expected;
        for (int nValue : posts)
            expected.push_back(std::to_wstring(nValue) + L"%");
        expected.push_back(L"100%");
        std::vector<std::wstring> texts;
        for (const RunEvent& event : m_dlg->m_events) {
            if (event.kind == RunEvent::PERCENT_TEXT) {
                texts.push_back(event.strText);
                EXPECT_EQ(event.strText == L"100%", event.bOtherThread) << Narrow(event.strText);
            }
        }
        EXPECT_EQ(expected, texts);
    }
};

TEST_F(RunProgressTest, SkippedEntriesAtTheEndLeaveTheProgressAtTheirShare)
{
    HoldTheEndUntilSeen();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    std::vector<int> expected = {9, 19, 28, 38, 47, 57, 66, 76, 97};
    EXPECT_EQ(expected, m_dlg->ProgressPosts());
    ExpectPercentTexts(expected);
    ExpectEightPackagesShown();
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
}

TEST_F(RunProgressTest, SkippedEntriesAtTheStartCountAsHandled)
{
    HoldTheEndUntilSeen();
    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    std::vector<int> expected = {28, 38, 47, 57, 66, 76, 85, 95, 97};
    EXPECT_EQ(expected, m_dlg->ProgressPosts());
    ExpectPercentTexts(expected);
    ExpectEightPackagesShown();
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
}

} // namespace
