#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "TestFiles.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "system/ShellLinks.h"
#include "uninstall/Uninstaller.h"

namespace {

bool Exists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Relative paths of everything below strFolder; folders end with "\".
void ListTree(const std::wstring& strFolder, const std::wstring& strPrefix, std::set<std::wstring>& setOut)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW((strFolder + L"\\*").c_str(), &data));
    if (!find)
        return;
    do {
        std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            setOut.insert(strPrefix + strName + L"\\");
            ListTree(strFolder + L"\\" + strName, strPrefix + strName + L"\\", setOut);
        } else {
            setOut.insert(strPrefix + strName);
        }
    } while (FindNextFileW(find.Get(), &data));
}

std::set<std::wstring> ListTree(const std::wstring& strFolder)
{
    std::set<std::wstring> set;
    ListTree(strFolder, L"", set);
    return set;
}

void RemoveTree(const std::wstring& strFolder)
{
    std::set<std::wstring> setAll = ListTree(strFolder);
    for (auto it = setAll.rbegin(); it != setAll.rend(); ++it) {
        std::wstring strPath = strFolder + L"\\" + *it;
        SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (it->back() == L'\\')
            RemoveDirectoryW(strPath.c_str());
        else
            DeleteFileW(strPath.c_str());
    }
    RemoveDirectoryW(strFolder.c_str());
}

// A sandbox holding an install folder "Larkspire" with the client in it, a sibling whose name starts
// the same way, and a file beside them: what the uninstaller must leave alone.
class UninstallerTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strSandbox = MakeTempFolder(L"uninst");
        ASSERT_FALSE(m_strSandbox.empty());
        m_strLog = m_strSandbox + L".log";
        wcscpy(g_szLogPath, m_strLog.c_str());
        m_strFolder = m_strSandbox + L"\\Larkspire";
        m_strSibling = m_strSandbox + L"\\Larkspire2";
        for (const std::wstring& str : {m_strFolder, m_strSibling})
            ASSERT_TRUE(CreateDirectoryW(str.c_str(), nullptr));
        Make(L"Larkspire\\iQorRemote.exe");
        Make(L"Larkspire2\\iQorRemote.exe");
        Make(L"beside.txt");
    }
    void TearDown() override
    {
        g_szLogPath[0] = L'\0';
        RemoveTree(m_strSandbox);
        DeleteFileW(m_strLog.c_str());
    }

    void Make(const std::wstring& strRelative)
    {
        std::wstring strPath = m_strSandbox + L"\\" + strRelative;
        if (strPath.back() == L'\\')
            ASSERT_TRUE(CreateDirectoryW(strPath.c_str(), nullptr)) << Narrow(strPath);
        else
            ASSERT_TRUE(WriteFileBytes(strPath, "MZ", 2)) << Narrow(strPath);
    }
    std::set<std::wstring> Untouched() const { return {L"Larkspire2\\", L"Larkspire2\\iQorRemote.exe", L"beside.txt"}; }

    // Folders of 40 characters below the install folder, down to a file whose full path is 259 characters
    // (MAX_PATH less the terminator, the longest the installer writes) and a read-only file beside it.
    // Returns the long one's full path.
    std::wstring MakeLongPaths()
    {
        std::wstring strRelative = L"Larkspire";
        WCHAR chLevel = L'a';
        while (m_strSandbox.size() + 1 + strRelative.size() + 1 + 40 + 1 + 20 <= 259) {
            strRelative += L"\\" + std::wstring(40, chLevel++);
            Make(strRelative + L"\\");
        }
        Make(strRelative + L"\\ro.dll");
        EXPECT_TRUE(SetFileAttributesW((m_strSandbox + L"\\" + strRelative + L"\\ro.dll").c_str(),
            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
        size_t cchName = 259 - (m_strSandbox.size() + 1 + strRelative.size() + 1);
        strRelative += L"\\" + std::wstring(cchName - 4, L'n') + L".dll";
        Make(strRelative);
        std::wstring strLong = m_strSandbox + L"\\" + strRelative;
        EXPECT_EQ(259u, strLong.size());
        EXPECT_TRUE(Exists(strLong));
        return strLong;
    }

    FolderVerdict Check(const std::wstring& strFolder, const std::wstring& strRegistered)
    {
        return CheckInstallFolder(strFolder.c_str(), strRegistered.c_str(), m_szFull);
    }

    std::wstring m_strSandbox;
    std::wstring m_strLog;
    std::wstring m_strFolder;
    std::wstring m_strSibling;
    WCHAR m_szFull[MAX_PATH] = {};
};

TEST_F(UninstallerTest, RegisteredFolderWithTheClientIsAcceptedHoweverItIsSpelled)
{
    EXPECT_EQ(FolderVerdict::Accepted, Check(m_strFolder, m_strFolder + L"\\"));
    EXPECT_EQ(m_strFolder, m_szFull);

    std::wstring strOtherSpelling = m_strSandbox + L"/LARKSPIRE//";
    EXPECT_EQ(FolderVerdict::Accepted, Check(strOtherSpelling, m_strFolder));
    EXPECT_TRUE(_wcsicmp(m_strFolder.c_str(), m_szFull) == 0) << Narrow(m_szFull);

    // ".." is resolved before the comparison, and the removal works on the resolved path.
    EXPECT_EQ(FolderVerdict::Accepted, Check(m_strSibling + L"\\..\\Larkspire", m_strFolder));
    EXPECT_EQ(m_strFolder, m_szFull);
}

TEST_F(UninstallerTest, RootsEmptyPathsForeignAndUnregisteredFoldersAreRefused)
{
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(L"", m_strFolder));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(L"C:\\", L"C:\\"));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(L"C:", L"C:\\"));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(L"c:/", L"C:\\"));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(L"\\", L"\\"));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, Check(m_strFolder + L"\\..\\..\\..\\..\\..\\..\\..", m_strFolder));
    EXPECT_EQ(FolderVerdict::RootOrEmpty, CheckInstallFolder(nullptr, m_strFolder.c_str(), m_szFull));

    EXPECT_EQ(FolderVerdict::NotRegistered, Check(m_strFolder, L""));
    EXPECT_EQ(FolderVerdict::NotRegistered, CheckInstallFolder(m_strFolder.c_str(), nullptr, m_szFull));

    EXPECT_EQ(FolderVerdict::NotRegisteredFolder, Check(m_strSibling, m_strFolder));
    EXPECT_EQ(FolderVerdict::NotRegisteredFolder, Check(m_strFolder, m_strSibling));
    EXPECT_EQ(FolderVerdict::NotRegisteredFolder, Check(m_strSandbox, m_strFolder));
    EXPECT_EQ(FolderVerdict::NotRegisteredFolder, Check(m_strFolder + L"\\sub", m_strFolder));
}

TEST_F(UninstallerTest, FolderMustExistAndHoldTheClientAsAFile)
{
    std::wstring strMissing = m_strSandbox + L"\\Gone";
    EXPECT_EQ(FolderVerdict::NotAFolder, Check(strMissing, strMissing));
    std::wstring strFile = m_strSandbox + L"\\beside.txt";
    EXPECT_EQ(FolderVerdict::NotAFolder, Check(strFile, strFile));

    ASSERT_TRUE(DeleteFileW((m_strFolder + L"\\iQorRemote.exe").c_str()));
    EXPECT_EQ(FolderVerdict::NoClient, Check(m_strFolder, m_strFolder));
    Make(L"Larkspire\\iQorRemote.exe\\");
    EXPECT_EQ(FolderVerdict::NoClient, Check(m_strFolder, m_strFolder));
}

TEST_F(UninstallerTest, RemovalTakesEverythingInsideReadOnlyIncludedAndNothingBeside)
{
    for (const wchar_t* psz :
        {L"Larkspire\\UnInstall.exe", L"Larkspire\\config\\", L"Larkspire\\config\\ORB.System.config",
            L"Larkspire\\ui\\", L"Larkspire\\ui\\deep\\", L"Larkspire\\ui\\deep\\ro.dll", L"Larkspire\\empty\\"})
        Make(psz);
    ASSERT_TRUE(SetFileAttributesW((m_strFolder + L"\\ui\\deep\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(
        (m_strFolder + L"\\config\\ORB.System.config").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    EXPECT_TRUE(RemoveInstallFolder(m_strFolder.c_str()).empty());
    EXPECT_FALSE(Exists(m_strFolder));
    EXPECT_EQ(Untouched(), ListTree(m_strSandbox));
}

TEST_F(UninstallerTest, RemovalRefusesEmptyPathsAndDriveRoots)
{
    // "C:" alone means the current folder of drive C: to the system, here the install folder.
    WCHAR szCurrent[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, szCurrent);
    SetCurrentDirectoryW(m_strFolder.c_str());
    for (const wchar_t* psz : {L"", L"C:", L"c:"})
        EXPECT_EQ(std::vector<std::wstring> {psz}, RemoveInstallFolder(psz)) << Narrow(psz);
    EXPECT_EQ(std::vector<std::wstring> {L""}, RemoveInstallFolder(nullptr));
    SetCurrentDirectoryW(szCurrent);
    EXPECT_TRUE(Exists(m_strFolder + L"\\iQorRemote.exe"));
    EXPECT_NE(std::wstring::npos, Utf16(ReadFileBytes(m_strLog)).find(L"[RemoveInstallFolder] refused folder=C:\r\n"));
}

TEST_F(UninstallerTest, FileHeldOpenIsReportedByNameAndLeftWhileTheRestGoes)
{
    for (const wchar_t* psz : {L"Larkspire\\UnInstall.exe", L"Larkspire\\ui\\", L"Larkspire\\ui\\held.dll",
             L"Larkspire\\ui\\free.dll", L"Larkspire\\docs\\", L"Larkspire\\docs\\a.txt"})
        Make(psz);
    std::wstring strHeld = m_strFolder + L"\\ui\\held.dll";
    CFileHandle held(CreateFileW(strHeld.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    std::vector<std::wstring> vecLeft = RemoveInstallFolder(m_strFolder.c_str());
    EXPECT_EQ(std::vector<std::wstring> {strHeld}, vecLeft);
    EXPECT_EQ(std::set<std::wstring>({L"Larkspire\\", L"Larkspire\\ui\\", L"Larkspire\\ui\\held.dll"}), [&] {
        std::set<std::wstring> set = ListTree(m_strSandbox);
        for (const std::wstring& str : Untouched())
            set.erase(str);
        return set;
    }());
    EXPECT_NE(std::wstring::npos, Utf16(ReadFileBytes(m_strLog)).find(L"[RemoveInstallFolder] left=" + strHeld));

    held.Close();
    EXPECT_TRUE(RemoveInstallFolder(m_strFolder.c_str()).empty());
    EXPECT_EQ(Untouched(), ListTree(m_strSandbox));
}

TEST_F(UninstallerTest, FilesAsLongAsTheInstallerWritesGoReadOnlyIncluded)
{
    MakeLongPaths();
    EXPECT_TRUE(RemoveInstallFolder(m_strFolder.c_str()).empty());
    EXPECT_FALSE(Exists(m_strFolder));
    EXPECT_EQ(Untouched(), ListTree(m_strSandbox));
}

TEST_F(UninstallerTest, LongPathLeftIsReportedAsWritten)
{
    std::wstring strLong = MakeLongPaths();
    CFileHandle held(CreateFileW(strLong.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    EXPECT_EQ(std::vector<std::wstring> {strLong}, RemoveInstallFolder(m_strFolder.c_str()));
    EXPECT_NE(
        std::wstring::npos, Utf16(ReadFileBytes(m_strLog)).find(L"[RemoveInstallFolder] left=" + strLong + L"\r\n"));

    held.Close();
    EXPECT_TRUE(RemoveInstallFolder(m_strFolder.c_str()).empty());
    EXPECT_EQ(Untouched(), ListTree(m_strSandbox));
}

TEST_F(UninstallerTest, ShortcutGoesOnlyWhenItStartsAProgramInsideTheFolder)
{
    CComInit com;
    ASSERT_TRUE(SUCCEEDED(com.Result()));
    std::wstring strLinks = m_strSandbox + L"\\links";
    ASSERT_TRUE(CreateDirectoryW(strLinks.c_str(), nullptr));
    auto makeLink = [&](const wchar_t* pszName, const std::wstring& strTarget) {
        WCHAR szFolder[MAX_PATH];
        wcscpy(szFolder, strLinks.c_str());
        CreateShellLink(pszName, m_strFolder.c_str(), strTarget.c_str(), L"", szFolder, nullptr);
        std::wstring strLink = strLinks + L"\\" + pszName + L".lnk";
        EXPECT_TRUE(Exists(strLink)) << Narrow(strLink);
        return strLink;
    };
    std::wstring strOurs = makeLink(L"ours", m_strFolder + L"/iQorRemote.exe");
    std::wstring strUpper = makeLink(L"upper", m_strSandbox + L"\\LARKSPIRE\\UnInstall.exe");
    std::wstring strSibling = makeLink(L"sibling", m_strSibling + L"/iQorRemote.exe");
    std::wstring strEscape = makeLink(L"escape", m_strFolder + L"\\..\\Larkspire2\\iQorRemote.exe");
    std::wstring strNotALink = strLinks + L"\\plain.lnk";
    ASSERT_TRUE(WriteFileBytes(strNotALink, "not a link", 10));

    EXPECT_EQ(LinkResult::Removed, RemoveLinkInto(strOurs.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(LinkResult::Removed, RemoveLinkInto(strUpper.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(LinkResult::KeptElsewhere, RemoveLinkInto(strSibling.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(LinkResult::KeptElsewhere, RemoveLinkInto(strEscape.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(LinkResult::KeptElsewhere, RemoveLinkInto(strNotALink.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(LinkResult::Missing, RemoveLinkInto(strOurs.c_str(), m_strFolder.c_str()));
    EXPECT_EQ(std::set<std::wstring>({L"sibling.lnk", L"escape.lnk", L"plain.lnk"}), ListTree(strLinks));
}

} // namespace
