#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "SystemTestSupport.h"
#include "TestFiles.h"
#include "app/Globals.h"
#include "support/Handles.h"
#include "system/ShellLinks.h"

namespace {

const wchar_t s_szUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t s_szMachineShellFolders[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct LinkInfo {
    std::wstring strTarget;
    std::wstring strArguments;
    std::wstring strWorkDir;
    std::wstring strIcon;
    int nIconIndex = -1;
    std::wstring strDescription;
};

// What the shell itself reads from a link file.
bool ReadLink(const std::wstring& strPath, LinkInfo& info)
{
    CComPtr<IShellLinkW> link;
    CComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))
        || FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))
        || FAILED(file->Load(strPath.c_str(), STGM_READ)))
        return false;
    WCHAR sz[MAX_PATH * 2] = {};
    link->GetPath(sz, MAX_PATH, nullptr, SLGP_RAWPATH);
    info.strTarget = sz;
    sz[0] = L'\0';
    link->GetArguments(sz, ARRAYSIZE(sz));
    info.strArguments = sz;
    sz[0] = L'\0';
    link->GetWorkingDirectory(sz, ARRAYSIZE(sz));
    info.strWorkDir = sz;
    sz[0] = L'\0';
    link->GetIconLocation(sz, ARRAYSIZE(sz), &info.nIconIndex);
    info.strIcon = sz;
    sz[0] = L'\0';
    link->GetDescription(sz, ARRAYSIZE(sz));
    info.strDescription = sz;
    return true;
}

// An older link as a user or an earlier installation left it.
bool WriteLink(const std::wstring& strPath, const std::wstring& strTarget, const std::wstring& strDescription)
{
    CComPtr<IShellLinkW> link;
    CComPtr<IPersistFile> file;
    return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))
        && SUCCEEDED(link->SetPath(strTarget.c_str())) && SUCCEEDED(link->SetDescription(strDescription.c_str()))
        && SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))
        && SUCCEEDED(file->Save(strPath.c_str(), TRUE));
}

// Header size 0x4C, then the class id 00021401-0000-0000-C000-000000000046 in its stored byte order.
void ExpectShellLinkFile(const std::wstring& strPath)
{
    static const BYTE s_header[20] = {0x4C, 0, 0, 0, 0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    std::vector<BYTE> bytes = ReadFileBytes(strPath);
    ASSERT_GE(bytes.size(), 0x4Cu) << Narrow(strPath);
    EXPECT_TRUE(std::equal(std::begin(s_header), std::end(s_header), bytes.begin())) << Narrow(strPath);
}

// Forward and backward slashes alike, letter case alike: how the shell may store a target it was given.
std::wstring Canonical(std::wstring str)
{
    for (wchar_t& ch : str)
        ch = ch == L'/' ? L'\\' : static_cast<wchar_t>(towlower(ch));
    return str;
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

class ShellLinksTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(m_com.Result()));
        m_strSetup = MakeTempFolder(L"setup");
        ASSERT_FALSE(m_strSetup.empty());
        ASSERT_TRUE(WriteFileBytes(m_strSetup + L"\\iQorRemote.exe", "MZ", 2));
        ASSERT_TRUE(WriteFileBytes(m_strSetup + L"\\UnInstall.exe", "MZ", 2));
        m_strDesktop = MakeTempFolder(L"desktop");
        ASSERT_TRUE(m_desktopValue.SetString(m_strDesktop));
    }

    std::wstring ClientTarget() const { return m_strSetup + L"/iQorRemote.exe"; }
    std::wstring Icon() const { return m_strSetup + L"/favicon.ico"; }
    void CreateClientDesktopLink() const
    {
        CreateDesktopLink(g_szDisplayName, m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), false);
    }
    void ExpectClientLink(const std::wstring& strPath) const
    {
        ExpectShellLinkFile(strPath);
        LinkInfo info;
        ASSERT_TRUE(ReadLink(strPath, info)) << Narrow(strPath);
        EXPECT_EQ(Canonical(ClientTarget()), Canonical(info.strTarget));
        EXPECT_EQ(L"", info.strArguments);
        EXPECT_EQ(m_strSetup, info.strWorkDir);
        EXPECT_EQ(Icon(), info.strIcon);
        EXPECT_EQ(0, info.nIconIndex);
        EXPECT_EQ(L"Mirevale", info.strDescription);
    }

    CComInit m_com;
    CTestLog m_log;
    CSavedRegValue m_desktopValue {HKEY_CURRENT_USER, s_szUserShellFolders, L"Desktop"};
    std::wstring m_strSetup;
    std::wstring m_strDesktop;
};

TEST(NormalizeSlashesTest, SeparatorsBecomeSingleForwardSlashesWithTheTrailingSlashAsAsked)
{
    struct Case {
        const wchar_t* pszIn;
        bool bTrailing;
        const wchar_t* pszOut;
    };
    const Case cases[] = {
        {L"C:\\Users\\a/\\Desktop", true, L"C:/Users/a/Desktop/"},
        {L"C:\\x\\", false, L"C:/x"},
        {L"", true, L""},
        {L"", false, L""},
        {L"C:/x/", true, L"C:/x/"},
        {L"C:\\\\\\x//\\y", false, L"C:/x/y"},
        {L"\\\\server\\share\\", true, L"//server/share/"},
        {L"C:\\x\\\\", false, L"C:/x"},
        {L"/", false, L""},
    };
    for (const Case& c : cases) {
        WCHAR sz[MAX_PATH];
        wcscpy(sz, c.pszIn);
        EXPECT_EQ(sz, NormalizeSlashes(sz, MAX_PATH, c.bTrailing));
        EXPECT_STREQ(c.pszOut, sz) << Narrow(c.pszIn) << (c.bTrailing ? " with" : " without") << " trailing slash";
    }
}

TEST(NormalizeSlashesTest, TrailingSlashIsNotAddedBeyondTheBuffer)
{
    WCHAR sz[8] = L"C:\\abcd";
    NormalizeSlashes(sz, ARRAYSIZE(sz), true);
    EXPECT_STREQ(L"C:/abcd", sz);
    WCHAR szRoom[9] = L"C:\\abcd";
    NormalizeSlashes(szRoom, ARRAYSIZE(szRoom), true);
    EXPECT_STREQ(L"C:/abcd/", szRoom);
}

TEST_F(ShellLinksTest, ReadDesktopFolderGivesTheValueAndLeavesTheBufferForAnUnusableOne)
{
    WCHAR sz[MAX_PATH] = L"prepared";
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_EQ(m_strDesktop, sz);

    const std::wstring strLongest = L"C:\\" + std::wstring(MAX_PATH - 4, L'd');
    ASSERT_TRUE(m_desktopValue.SetString(strLongest));
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_EQ(strLongest, sz);

    // Data that fills the buffer without a terminating zero, too long data, a number, no value.
    const std::wstring strUnterminated(MAX_PATH, L'u');
    const std::wstring strTooLong(MAX_PATH + 20, L'l');
    DWORD dwNumber = 7;
    wcscpy(sz, L"prepared");
    ASSERT_TRUE(m_desktopValue.SetRaw(REG_SZ, strUnterminated.data(), MAX_PATH * sizeof(WCHAR)));
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_STREQ(L"prepared", sz);
    ASSERT_TRUE(m_desktopValue.SetString(strTooLong));
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_STREQ(L"prepared", sz);
    ASSERT_TRUE(m_desktopValue.SetRaw(REG_DWORD, &dwNumber, sizeof(dwNumber)));
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_STREQ(L"prepared", sz);
    ASSERT_TRUE(m_desktopValue.Delete());
    EXPECT_TRUE(ReadDesktopFolder(sz));
    EXPECT_STREQ(L"prepared", sz);
}

TEST_F(ShellLinksTest, DesktopLinkStartsTheClientFromTheInstallFolder)
{
    CreateClientDesktopLink();

    EXPECT_EQ(std::vector<std::wstring> {L"Mirevale.lnk"}, ListFolder(m_strDesktop));
    ExpectClientLink(m_strDesktop + L"\\Mirevale.lnk");
    EXPECT_TRUE(m_log.Messages().empty());
}

TEST_F(ShellLinksTest, AllUsersLinkGoesToThePublicDesktopOnly)
{
    std::wstring strPublic = MakeTempFolder(L"public");
    CSavedRegValue publicValue(HKEY_LOCAL_MACHINE, s_szMachineShellFolders, L"Common Desktop");
    ASSERT_TRUE(publicValue.SetString(strPublic));
    WCHAR sz[MAX_PATH] = {};
    EXPECT_TRUE(ReadDesktopFolder(sz, true));
    EXPECT_EQ(strPublic, sz);

    CreateDesktopLink(g_szDisplayName, m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), true);
    EXPECT_EQ(std::vector<std::wstring> {L"Mirevale.lnk"}, ListFolder(strPublic));
    ExpectClientLink(strPublic + L"\\Mirevale.lnk");
    EXPECT_TRUE(ListFolder(m_strDesktop).empty());
}

TEST_F(ShellLinksTest, DesktopFolderGivenWithBackslashAndTrailingSeparatorsStillTakesTheLink)
{
    ASSERT_TRUE(m_desktopValue.SetString(m_strDesktop + L"\\/"));
    CreateClientDesktopLink();
    EXPECT_EQ(std::vector<std::wstring> {L"Mirevale.lnk"}, ListFolder(m_strDesktop));
}

TEST_F(ShellLinksTest, LinkOfTheSameNameIsSavedOver)
{
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\Mirevale.lnk", ClientTarget(), L"from an earlier installation"));
    CreateClientDesktopLink();
    EXPECT_EQ(std::vector<std::wstring> {L"Mirevale.lnk"}, ListFolder(m_strDesktop));
    ExpectClientLink(m_strDesktop + L"\\Mirevale.lnk");
}

TEST_F(ShellLinksTest, RenamedLinkToTheSameClientIsReplacedAndOtherLinksStay)
{
    std::wstring strBackslashed = m_strSetup + L"\\iQorRemote.exe";
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\My client.lnk", strBackslashed, L"renamed by the user"));
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\Editor.lnk", L"C:\\windows\\notepad.exe", L"another program"));
    ASSERT_TRUE(WriteFileBytes(m_strDesktop + L"\\notes.txt", "x", 1));

    CreateClientDesktopLink();

    EXPECT_EQ(Sorted({L"Editor.lnk", L"Mirevale.lnk", L"notes.txt"}), Sorted(ListFolder(m_strDesktop)));
    ExpectClientLink(m_strDesktop + L"\\Mirevale.lnk");
}

TEST_F(ShellLinksTest, TargetDifferingOnlyInLetterCaseIsTheSameTarget)
{
    std::wstring strUpper = m_strSetup + L"\\IQORREMOTE.EXE";
    CharUpperW(strUpper.data());
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\Old.lnk", strUpper, L"old"));

    CreateClientDesktopLink();

    EXPECT_EQ(std::vector<std::wstring> {L"Mirevale.lnk"}, ListFolder(m_strDesktop));
}

TEST_F(ShellLinksTest, OfTwoOlderLinksOnlyTheFirstOneMetIsDeleted)
{
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\First.lnk", m_strSetup + L"\\iQorRemote.exe", L"one"));
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\Second.lnk", m_strSetup + L"\\iQorRemote.exe", L"two"));
    std::vector<std::wstring> order = ListFolder(m_strDesktop, L"*.lnk");
    ASSERT_EQ(2u, order.size());

    CreateClientDesktopLink();

    EXPECT_EQ(Sorted({order[1], L"Mirevale.lnk"}), Sorted(ListFolder(m_strDesktop)));
}

TEST_F(ShellLinksTest, RemoveDuplicateLinkKeepsTheLinkOfTheGivenNameAndStopsThere)
{
    std::wstring strFolder = m_strDesktop + L"/";
    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\mirevale.LNK", ClientTarget(), L"own name, other case"));
    RemoveDuplicateLink(strFolder.c_str(), ClientTarget().c_str(), g_szDisplayName);
    EXPECT_EQ(std::vector<std::wstring> {L"mirevale.LNK"}, ListFolder(m_strDesktop));

    ASSERT_TRUE(WriteLink(m_strDesktop + L"\\Later.lnk", ClientTarget(), L"goes only when met first"));
    std::vector<std::wstring> order = ListFolder(m_strDesktop);
    RemoveDuplicateLink(strFolder.c_str(), ClientTarget().c_str(), g_szDisplayName);
    std::vector<std::wstring> expected = order[0] == L"Later.lnk" ? std::vector<std::wstring> {L"mirevale.LNK"} : order;
    EXPECT_EQ(Sorted(expected), Sorted(ListFolder(m_strDesktop)));
}

// Each shortcut initialises COM for the calling thread and releases it again.
TEST_F(ShellLinksTest, CreateShellLinkLeavesTheThreadWithoutCom)
{
    HRESULT hrAfter = E_FAIL;
    std::thread worker([&] {
        WCHAR szFolder[MAX_PATH];
        wcscpy(szFolder, m_strDesktop.c_str());
        CreateShellLink(L"Worker", m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), szFolder, nullptr);
        hrAfter = CoInitialize(nullptr);
        if (SUCCEEDED(hrAfter))
            CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(S_OK, hrAfter) << "S_FALSE: COM was still initialised";
    EXPECT_EQ(std::vector<std::wstring> {L"Worker.lnk"}, ListFolder(m_strDesktop));
}

// Without a Desktop value the link would otherwise land in, and older links be deleted from, whatever
// folder the installer was started in.
TEST_F(ShellLinksTest, MissingDesktopValueMakesNoLinkAnywhere)
{
    std::wstring strCurrent = MakeTempFolder(L"current");
    ASSERT_TRUE(WriteLink(strCurrent + L"\\Renamed.lnk", ClientTarget(), L"in the current folder"));
    WCHAR szSaved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, szSaved);
    ASSERT_TRUE(SetCurrentDirectoryW(strCurrent.c_str()));
    ASSERT_TRUE(m_desktopValue.Delete());

    CreateClientDesktopLink();

    SetCurrentDirectoryW(szSaved);
    EXPECT_EQ(std::vector<std::wstring> {L"Renamed.lnk"}, ListFolder(strCurrent));
    EXPECT_TRUE(ListFolder(m_strDesktop).empty());
    EXPECT_EQ(std::vector<std::wstring> {L"[CreateDesktopLink] no Desktop folder, no shortcut"}, m_log.Messages());
}

TEST_F(ShellLinksTest, CreateShellLinkChangesTheFolderBufferIntoTheLinkPath)
{
    WCHAR szFolder[MAX_PATH];
    wcscpy(szFolder, (m_strDesktop + L"\\").c_str());
    CreateShellLink(L"Name", m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), szFolder, L"");

    std::wstring strExpected = m_strDesktop + L"/Name.lnk";
    for (wchar_t& ch : strExpected)
        ch = ch == L'\\' ? L'/' : ch;
    EXPECT_EQ(strExpected, szFolder);
    LinkInfo info;
    ASSERT_TRUE(ReadLink(m_strDesktop + L"\\Name.lnk", info));
    EXPECT_EQ(L"", info.strArguments);
    EXPECT_EQ(L"Name", info.strDescription);

    WCHAR szEmpty[MAX_PATH] = L"";
    CreateShellLink(L"Nowhere", m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), szEmpty, nullptr);
    EXPECT_STREQ(L"", szEmpty);
}

// A link whose path would not fit is not made, and the older link it would replace is kept.
TEST_F(ShellLinksTest, LinkPathTooLongForItsBufferIsSkippedWithALogRecord)
{
    std::wstring strFolder = m_strDesktop + L"\\" + std::wstring(240 - m_strDesktop.size(), L'f');
    ASSERT_TRUE(CreateDirectoryW(strFolder.c_str(), nullptr));
    ASSERT_TRUE(WriteLink(strFolder + L"\\a.lnk", ClientTarget(), L"older"));
    WCHAR szFolder[MAX_PATH];
    wcscpy(szFolder, strFolder.c_str());

    CreateShellLink(
        L"A name of twenty-one", m_strSetup.c_str(), ClientTarget().c_str(), Icon().c_str(), szFolder, nullptr);

    EXPECT_EQ(std::vector<std::wstring> {L"a.lnk"}, ListFolder(strFolder));
    std::vector<std::wstring> messages = m_log.Messages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0u, messages[0].find(L"[CreateShellLink] path longer than 259 characters, step skipped: "))
        << Narrow(messages[0]);
}

class StartMenuTest : public ShellLinksTest {
protected:
    void SetUp() override
    {
        ShellLinksTest::SetUp();
        m_strPrograms = MakeTempFolder(L"programs");
        ASSERT_TRUE(m_programsValue.SetString(m_strPrograms));
        m_strMenu = m_strPrograms + L"\\Mirevale";
    }

    void ExpectBothLinks() const
    {
        ExpectClientLink(m_strMenu + L"\\Mirevale.lnk");
        std::wstring strUninstall = m_strMenu + L"\\卸载Mirevale.lnk";
        ExpectShellLinkFile(strUninstall);
        LinkInfo info;
        ASSERT_TRUE(ReadLink(strUninstall, info));
        EXPECT_EQ(Canonical(m_strSetup + L"\\UnInstall.exe"), Canonical(info.strTarget));
        EXPECT_EQ(L"\"" + m_strSetup + L"\"", info.strArguments);
        EXPECT_EQ(m_strSetup, info.strWorkDir);
        EXPECT_EQ(Icon(), info.strIcon);
        EXPECT_EQ(0, info.nIconIndex);
        EXPECT_EQ(L"卸载Mirevale", info.strDescription);
    }

    CSavedRegValue m_programsValue {HKEY_LOCAL_MACHINE, s_szMachineShellFolders, L"Common Programs"};
    std::wstring m_strPrograms;
    std::wstring m_strMenu;
};

TEST_F(StartMenuTest, MakesTheFolderWithTheClientAndUninstallerLinks)
{
    EXPECT_EQ(1, CreateStartMenuLinks(m_strSetup.c_str()));

    EXPECT_EQ(Sorted({L"Mirevale.lnk", L"卸载Mirevale.lnk"}), Sorted(ListFolder(m_strMenu)));
    ExpectBothLinks();
    EXPECT_EQ(
        std::vector<std::wstring> {L"[CSetupDlg::SetStartShellLink] ProgramsPath=" + m_strPrograms}, m_log.Messages());
}

TEST_F(StartMenuTest, RepeatedInstallationReplacesBothLinksAndKeepsTheUsersFiles)
{
    ASSERT_TRUE(CreateDirectoryW(m_strMenu.c_str(), nullptr));
    ASSERT_TRUE(WriteLink(m_strMenu + L"\\Mirevale.lnk", L"C:\\Elsewhere\\iQorRemote.exe", L"stale"));
    ASSERT_TRUE(WriteFileBytes(m_strMenu + L"\\卸载Mirevale.lnk", "not a link", 10));
    ASSERT_TRUE(WriteFileBytes(m_strMenu + L"\\readme.txt", "mine", 4));

    EXPECT_EQ(1, CreateStartMenuLinks(m_strSetup.c_str()));
    EXPECT_EQ(1, CreateStartMenuLinks(m_strSetup.c_str()));

    EXPECT_EQ(Sorted({L"Mirevale.lnk", L"readme.txt", L"卸载Mirevale.lnk"}), Sorted(ListFolder(m_strMenu)));
    EXPECT_EQ(std::vector<BYTE>({'m', 'i', 'n', 'e'}), ReadFileBytes(m_strMenu + L"\\readme.txt"));
    ExpectBothLinks();
}

TEST_F(StartMenuTest, MissingProgramsFolderValueMakesNoEntries)
{
    ASSERT_TRUE(m_programsValue.Delete());
    EXPECT_EQ(0, CreateStartMenuLinks(m_strSetup.c_str()));
    EXPECT_TRUE(ListFolder(m_strPrograms).empty());
    EXPECT_EQ(std::vector<std::wstring> {L"[CSetupDlg::SetStartShellLink] QueryValue Common Programs error=2"},
        m_log.Messages());
}

} // namespace
