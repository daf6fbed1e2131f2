#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ObservedRun.h"
#include "TestFiles.h"
#include "app/Globals.h"
#include "support/RealPath.h"
#include "system/BackupRecord.h"

// Complete runs against nginx. Served: p01.zip (kind 1: data\p01.dat, iQorRemote.exe, favicon.ico
// and config\ORB.System.config with a [Server] section), p02.zip (kind 2), p03.zip (kind 1),
// UnInstall.exe and a matching filecrc.txt.

namespace {

// Slashes as the shell may store them; letter case as the file system compares.
std::wstring Canonical(std::wstring str)
{
    std::replace(str.begin(), str.end(), L'/', L'\\');
    CharLowerBuffW(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

struct LinkProperties {
    std::wstring strTarget;
    std::wstring strWorkDir;
    std::wstring strIcon;
};

LinkProperties ReadLink(const std::wstring& strPath)
{
    LinkProperties link;
    CoInitialize(nullptr);
    IShellLinkW* pLink = nullptr;
    if (SUCCEEDED(CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&pLink)))) {
        IPersistFile* pFile = nullptr;
        if (SUCCEEDED(pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile)))) {
            if (SUCCEEDED(pFile->Load(strPath.c_str(), STGM_READ))) {
                WCHAR sz[MAX_PATH] = {};
                int nIcon = 0;
                if (SUCCEEDED(pLink->GetPath(sz, MAX_PATH, nullptr, SLGP_RAWPATH)))
                    link.strTarget = Canonical(sz);
                if (SUCCEEDED(pLink->GetWorkingDirectory(sz, MAX_PATH)))
                    link.strWorkDir = Canonical(sz);
                if (SUCCEEDED(pLink->GetIconLocation(sz, MAX_PATH, &nIcon)))
                    link.strIcon = Canonical(sz);
            }
            pFile->Release();
        }
        pLink->Release();
    }
    CoUninitialize();
    return link;
}

ULONGLONG LastWrite(const std::wstring& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

std::wstring RegistryValue(const WCHAR* pszName)
{
    WCHAR sz[MAX_PATH] = {};
    DWORD cb = sizeof(sz) - sizeof(WCHAR);
    RegGetValueW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, pszName, RRF_RT_REG_SZ, nullptr, sz, &cb);
    return sz;
}

size_t IndexOf(const std::vector<RunEvent>& events, const RunEvent* pEvent)
{
    return static_cast<size_t>(pEvent - events.data());
}

class RunCompletionTest : public RunTest { };

TEST_F(RunCompletionTest, CompleteRunConfiguresLinksShowsAllRegistersAndAsksForTheLaunch)
{
    const std::wstring strFolder = INSTALL_FOLDER;
    MakeOldInstallation();

    m_dlg->RunToEnd();

    ExpectThreadsEnded(0);
    EXPECT_EQ(static_cast<DWORD>(SETUP_EXIT_INSTALLED), m_dlg->ExitCode());
    EXPECT_FALSE(FileExists(strFolder + L"\\old.txt")) << "the old installation was replaced";
    EXPECT_FALSE(FileExists(strFolder + L"\\bin\\locked.dll"));
    EXPECT_TRUE(BackupFolders().empty()) << "the previous installation is removed once the run is complete";
    WCHAR szRecordedFolder[MAX_PATH];
    WCHAR szRecordedBackup[MAX_PATH];
    EXPECT_FALSE(ReadBackupRecord(szRecordedFolder, szRecordedBackup));
    std::vector<LogRecord> runRecords = ReadRunLog();
    int nKept = FindRecord(
        runRecords, L"[CSetupDlg::Execute] previous installation C:\\Larkspire kept as C:\\Larkspire.previous-");
    EXPECT_LE(0, nKept);
    EXPECT_LT(nKept, FindRecord(runRecords, L"[CSetupDlg::Execute] download " + g_strBaseUrl + L"p01.zip sccuss"));
    EXPECT_LT(FindRecord(runRecords, L"[CSetupDlg::WriteRegistry]"),
        FindRecord(runRecords, L"[CSetupDlg::Run] previous installation C:\\Larkspire.previous-"));
    EXPECT_EQ(
        (std::vector<std::wstring> {L"正在安装p01.zip ......", L"正在安装p02.zip ......", L"正在安装p03.zip ......"}),
        m_dlg->StatusTexts());
    EXPECT_TRUE(m_dlg->m_bConfirmClose.load());
    EXPECT_NE(RGB(255, 0, 0), m_dlg->m_stcStatus.GetTextColor());

    // While the runner waits for the window to show 100: configuration and shortcuts are there, the
    // registration is not yet.
    const std::vector<RunEvent>& events = m_dlg->m_events;
    auto shown = std::find_if(events.begin(), events.end(),
        [](const RunEvent& e) { return e.kind == RunEvent::PERCENT_TEXT && e.bOtherThread; });
    ASSERT_NE(events.end(), shown) << "the runner shows the percentage itself";
    const RunEvent* pShown = &*shown;
    EXPECT_EQ(L"100%", pShown->strText);
    EXPECT_EQ(100, pShown->nProgress);
    EXPECT_TRUE(pShown->state.bUninstaller);
    EXPECT_EQ(L"000", pShown->state.strConfigVersion);
    EXPECT_TRUE(pShown->state.bDesktopLink);
    EXPECT_TRUE(pShown->state.bStartLink);
    EXPECT_TRUE(pShown->state.bStartUninstallLink);
    EXPECT_FALSE(pShown->state.bRegistry);

    // The launch request comes last, after the registration; the timer answers it.
    const RunEvent* pArm = m_dlg->Find(RunEvent::ARM_LAUNCH);
    const RunEvent* pTimer = m_dlg->Find(RunEvent::LAUNCH_TIMER);
    ASSERT_NE(nullptr, pArm);
    ASSERT_NE(nullptr, pTimer);
    EXPECT_LT(IndexOf(events, pShown), IndexOf(events, pArm));
    EXPECT_LT(IndexOf(events, pArm), IndexOf(events, pTimer));
    EXPECT_TRUE(pArm->state.bRegistry);
    EXPECT_EQ(1,
        std::count_if(events.begin(), events.end(), [](const RunEvent& e) { return e.kind == RunEvent::ARM_LAUNCH; }));
    WCHAR szPercent[16] = {};
    GetWindowTextW(m_dlg->m_stcPercent.GetSafeHwnd(), szPercent, ARRAYSIZE(szPercent));
    EXPECT_STREQ(L"100%", szPercent);

    // The configuration file brought by the package keeps its own section.
    std::wstring strConfig = strFolder + L"\\config\\ORB.System.config";
    WCHAR szHost[64] = {};
    GetPrivateProfileStringW(L"Server", L"Host", L"", szHost, ARRAYSIZE(szHost), strConfig.c_str());
    EXPECT_STREQ(L"download.example", szHost);

    // Configuration, desktop link, Start-menu links, in that order.
    std::wstring strStart = StartMenuFolder();
    std::vector<ULONGLONG> times = {LastWrite(strConfig), LastWrite(DesktopLinkPath()),
        LastWrite(strStart + L"\\Mirevale.lnk"), LastWrite(strStart + L"\\卸载Mirevale.lnk")};
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));

    LinkProperties desktop = ReadLink(DesktopLinkPath());
    EXPECT_EQ(Canonical(strFolder + L"\\iQorRemote.exe"), desktop.strTarget);
    EXPECT_EQ(Canonical(strFolder), desktop.strWorkDir);
    EXPECT_EQ(Canonical(strFolder + L"\\favicon.ico"), desktop.strIcon);
    EXPECT_EQ(strFolder + L"\\iQorRemote.exe", RegistryValue(L"DisplayIcon"));

    // The completion steps are the runner's, after the worker's last record.
    std::vector<LogRecord> records = ReadRunLog();
    int nCheck = FindRecord(records, L"[CSetupDlg::Execute] filecrc.txt-url = ");
    int nLinks = FindRecord(records, L"[CSetupDlg::SetStartShellLink] ProgramsPath=");
    int nRegistry = FindRecord(records, L"[CSetupDlg::WriteRegistry] UninstallString ");
    ASSERT_GE(nCheck, 0);
    ASSERT_GT(nLinks, nCheck);
    ASSERT_GT(nRegistry, nLinks);
    EXPECT_EQ(m_dlg->RunnerId(), records[static_cast<size_t>(nLinks)].dwThread);
    EXPECT_EQ(m_dlg->RunnerId(), records[static_cast<size_t>(nRegistry)].dwThread);
    EXPECT_NE(m_dlg->RunnerId(), records[static_cast<size_t>(nCheck)].dwThread);
}

// Served: p01.zip alone, with a read-only file, as archives made from files of mode 0444 bring them.
TEST_F(RunCompletionTest, ReleaseWithAReadOnlyFileInstallsAgainOverItself)
{
    const std::wstring strReadOnly = std::wstring(INSTALL_FOLDER) + L"\\data\\readonly.txt";
    for (int nRun = 1; nRun <= 2; ++nRun) {
        if (nRun == 2) {
            m_dlg = std::make_unique<CObservedSetupDlg>();
            m_dlg->m_setKinds = {1, 2};
        }
        m_dlg->RunToEnd();

        ExpectThreadsEnded(0);
        EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER)) << "run " << nRun;
        EXPECT_TRUE(GetFileAttributesW(strReadOnly.c_str()) & FILE_ATTRIBUTE_READONLY) << "run " << nRun;
        EXPECT_TRUE(BackupFolders().empty()) << "run " << nRun;
    }
}

// Folders made for the installer's own files, as the seam sees them: Wine keeps no descriptors.
std::vector<std::pair<std::wstring, std::wstring>> s_createdFolders;

BOOL WINAPI RecordFolderCreation(LPCWSTR pszFolder, LPSECURITY_ATTRIBUTES psa)
{
    LPWSTR pszSddl = nullptr;
    std::wstring strSddl = L"(default)";
    if (psa != nullptr
        && ConvertSecurityDescriptorToStringSecurityDescriptorW(
            psa->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &pszSddl, nullptr)) {
        strSddl = pszSddl;
        LocalFree(pszSddl);
    }
    s_createdFolders.emplace_back(pszFolder, strSddl);
    return CreateDirectoryW(pszFolder, psa);
}

// What both folders are created with: protected from what C:\\ passes on, full control for SYSTEM and
// the administrators, read and run for users, each inherited by files and folders below.
const WCHAR PROTECTED_SDDL[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

TEST_F(RunCompletionTest, RunOnAMachineWithoutTheInstallFolderCreatesIt)
{
    ASSERT_FALSE(FileExists(INSTALL_FOLDER));
    s_createdFolders.clear();
    g_pfnCreateFolder = RecordFolderCreation;
    m_dlg.reset();
    ClearInstallation();
    m_dlg = std::make_unique<CObservedSetupDlg>();
    m_dlg->m_setKinds = {1, 2};

    m_dlg->RunToEnd();
    g_pfnCreateFolder = CreateDirectoryW;
    using Created = std::vector<std::pair<std::wstring, std::wstring>>;
    EXPECT_EQ((Created {{TEMP_FOLDER, PROTECTED_SDDL}, {INSTALL_FOLDER, PROTECTED_SDDL}}), s_createdFolders);

    ExpectThreadsEnded(0);
    for (const wchar_t* pszFile : {L"\\data\\p01.dat", L"\\data\\p02.dat", L"\\data\\p03.dat", L"\\UnInstall.exe"})
        EXPECT_TRUE(FileExists(INSTALL_FOLDER + std::wstring(pszFile))) << Narrow(pszFile);
    EXPECT_EQ(3u, m_dlg->StatusTexts().size());
    EXPECT_TRUE(m_dlg->m_bConfirmClose.load());
    EXPECT_EQ(L"000", ProbeMachine().strConfigVersion);
    EXPECT_NE(nullptr, m_dlg->Find(RunEvent::LAUNCH_TIMER));
}

} // namespace
