#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "TestFiles.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "core/SetupDlg.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "support/RemoveTree.h"

namespace {

class DeleteDirectoryTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strSandbox = MakeTempFolder(L"deldir");
        ASSERT_FALSE(m_strSandbox.empty());
        m_strFolder = m_strSandbox + L"\\Larkspire";
        ASSERT_TRUE(CreateDirectoryW(m_strFolder.c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(m_strSandbox); }

    void Make(const std::wstring& strRelative)
    {
        std::wstring strPath = m_strFolder + L"\\" + strRelative;
        if (strPath.back() == L'\\')
            ASSERT_TRUE(CreateDirectoryW(strPath.c_str(), nullptr)) << Narrow(strPath);
        else
            ASSERT_TRUE(WriteTextFile(strPath, "data")) << Narrow(strPath);
    }

    std::wstring m_strSandbox;
    std::wstring m_strFolder;
};

TEST_F(DeleteDirectoryTest, RemovesTheWholeTreeDepthFirst)
{
    for (const WCHAR* psz : {L"a.dll", L"sub\\", L"sub\\b.dll", L"sub\\deep\\", L"sub\\deep\\c.dll", L"empty\\"})
        Make(psz);
    SetFileAttributesW((m_strFolder + L"\\sub\\b.dll").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteTextFile(m_strSandbox + L"\\beside.txt", "stays");

    EXPECT_TRUE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    EXPECT_FALSE(Exists(m_strFolder));
    EXPECT_EQ(std::set<std::wstring> {L"beside.txt"}, ListTree(m_strSandbox));
}

TEST_F(DeleteDirectoryTest, ReadOnlyFilesAndFoldersGoAsWell)
{
    for (const WCHAR* psz : {L"a.dll", L"ro\\", L"ro\\inner\\", L"ro\\inner\\ro.dll", L"ro\\other.dll"})
        Make(psz);
    SetFileAttributesW((m_strFolder + L"\\ro\\inner\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((m_strFolder + L"\\ro").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(m_strFolder.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    EXPECT_FALSE(Exists(m_strFolder));
}

TEST_F(DeleteDirectoryTest, FileInUseStaysWithTheFoldersAboveIt)
{
    for (const WCHAR* psz : {L"a.dll", L"keep\\", L"keep\\inner\\", L"keep\\inner\\used.dll", L"keep\\other.dll",
             L"gone\\", L"gone\\x.dll"})
        Make(psz);
    HANDLE hUsed = CreateFileW(
        (m_strFolder + L"\\keep\\inner\\used.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hUsed);

    EXPECT_FALSE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    CloseHandle(hUsed);
    EXPECT_EQ((std::set<std::wstring> {L"keep\\", L"keep\\inner\\", L"keep\\inner\\used.dll"}), ListTree(m_strFolder));
}

TEST_F(DeleteDirectoryTest, ExtractedReadOnlyFileGoesWithTheNextRemoval)
{
    ZipEntry readOnly = DeflatedEntry("bin/locked.dll", "L");
    readOnly.dwExternal = FILE_ATTRIBUTE_READONLY;
    ZipEntry unixReadOnly = UnixEntry("bin/r.so", "R", 0100444);
    std::wstring strArchive = m_strSandbox + L"\\pkg.zip";
    ASSERT_TRUE(WriteTextFile(strArchive, BuildZip({readOnly, unixReadOnly, DeflatedEntry("free.dll", "F")})));
    ASSERT_TRUE(CSetupDlg::UnZip(strArchive.c_str(), m_strFolder.c_str()));
    ASSERT_TRUE(GetFileAttributesW((m_strFolder + L"\\bin\\r.so").c_str()) & FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    EXPECT_FALSE(Exists(m_strFolder));
}

TEST_F(DeleteDirectoryTest, MissingFolderGivesFalse)
{
    EXPECT_FALSE(CSetupDlg::DeleteDirectory((m_strSandbox + L"\\none").c_str()));
}

TEST_F(DeleteDirectoryTest, NamesRightUpToTheLimitGoAsWell)
{
    // "folder\name" takes 259 characters, "folder//name" as the listing used to spell it did not fit.
    std::wstring strName(258 - m_strFolder.size(), L'n');
    Make(strName);
    Make(L"short.dll");
    EXPECT_TRUE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    EXPECT_FALSE(Exists(m_strFolder));
}

TEST_F(DeleteDirectoryTest, LevelsBeyondMaxPathGoAsWell)
{
    // Made in the long form, as a client may make them: the whole path is longer than MAX_PATH.
    std::wstring strLong = LongPath(m_strFolder);
    for (int i = 0; i < 4; ++i) {
        strLong += L"\\" + std::wstring(80, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW(strLong.c_str(), nullptr)) << GetLastError();
    }
    HANDLE hFile = CreateFileW((strLong + L"\\deep.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile) << GetLastError();
    CloseHandle(hFile);
    ASSERT_GT(ShownPath(strLong).size(), static_cast<size_t>(MAX_PATH));
    EXPECT_TRUE(CSetupDlg::DeleteDirectory(m_strFolder.c_str()));
    EXPECT_FALSE(Exists(m_strFolder));
}

// The cases below either hand DeleteDirectory a drive root or need Unix symbolic links made beside
// the Windows side: test_zip.py runs them in a prefix of their own and checks the drive afterwards.
const WCHAR* PreparedFolder()
{
    return _wgetenv(L"MIREVALE_ZIP_PREPARED");
}

TEST(DeleteDirectoryPrepared, RefusesEmptyPathsAndDriveRoots)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strLog = std::wstring(PreparedFolder()) + L"\\roots.log";
    wcscpy(g_szLogPath, strLog.c_str());
    SetCurrentDirectoryW(PreparedFolder());
    for (const WCHAR* psz : {L"", L"C:", L"C:\\", L"C:/", L"c:\\\\", L"\\", L"/", L"//", L"\\\\", L"C:\\."}) {
        EXPECT_FALSE(CSetupDlg::DeleteDirectory(psz)) << Narrow(psz);
        EXPECT_TRUE(Exists(L"C:\\windows\\system32")) << Narrow(psz);
    }
    EXPECT_FALSE(CSetupDlg::DeleteDirectory(nullptr));
    std::wstring strText = Utf16(ReadFileBytes(strLog));
    EXPECT_NE(std::wstring::npos, strText.find(L"[CSetupDlg::DeleteDirectory] refused folder=C:\\\r\n"));
    g_szLogPath[0] = L'\0';
}

TEST(DeleteDirectoryPrepared, LinksInsideAreNeverEntered)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strFolder = std::wstring(PreparedFolder()) + L"\\Larkspire";
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT),
        GetFileAttributesW((strFolder + L"\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        << "the script makes Larkspire\\link a symbolic link";
    CSetupDlg::DeleteDirectory(strFolder.c_str());
    // What the links point at is checked by the script; here: everything else went.
    for (const std::wstring& strPath : ListTree(strFolder))
        EXPECT_TRUE(strPath.find(L"link") == 0) << Narrow(strPath);
}

TEST(DeleteDirectoryPrepared, LinkGivenAsTheFolderIsNotEntered)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strLink = std::wstring(PreparedFolder()) + L"\\toplink";
    ASSERT_TRUE(GetFileAttributesW(strLink.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    CSetupDlg::DeleteDirectory(strLink.c_str());
}

// Writes that would go through the links: none lands in their targets (checked by the script).
TEST(RealPathPrepared, NothingIsWrittenOrDeletedThroughALink)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strLink = std::wstring(PreparedFolder()) + L"\\toplink";
    EXPECT_FALSE(HoldRealFolder(strLink.c_str(), nullptr, false)) << "a link that the system follows stays a link";
    EXPECT_FALSE(CreateFreshFile((strLink + L"\\fresh.zip").c_str(), GENERIC_WRITE, 0));
    EXPECT_FALSE(CreateFreshFile((strLink + L"\\keep2.txt").c_str(), GENERIC_WRITE, 0));
    std::wstring strLog = strLink + L"\\log.txt";
    wcscpy(g_szLogPath, strLog.c_str());
    LogNormal(L"through the link");
    g_szLogPath[0] = L'\0';
    // A link to a file: Wine shows it as a plain file, and deleting it by name would delete its target.
    std::wstring strFileLink = std::wstring(PreparedFolder()) + L"\\filelink";
    EXPECT_FALSE(DeleteFileChecked(strFileLink.c_str()));
    EXPECT_FALSE(CreateFreshFile(strFileLink.c_str(), GENERIC_WRITE, 0));
}

TEST(UnZipPrepared, TargetThatIsALinkFailsTheArchive)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strArchive = std::wstring(PreparedFolder()) + L"\\into-link.zip";
    ASSERT_TRUE(WriteTextFile(strArchive, BuildZip({DeflatedEntry("evil.dll", "E")})));
    EXPECT_FALSE(CSetupDlg::UnZip(strArchive.c_str(), (std::wstring(PreparedFolder()) + L"\\toplink").c_str()));
}

TEST(UnZipPrepared, LinkOnTheWayFailsTheItem)
{
    if (PreparedFolder() == nullptr)
        GTEST_SKIP() << "run by tests/e2e/test_zip.py in a prefix of its own";
    std::wstring strTarget = std::wstring(PreparedFolder()) + L"\\Target";
    std::wstring strArchive = std::wstring(PreparedFolder()) + L"\\through-link.zip";
    ASSERT_TRUE(WriteTextFile(strArchive, BuildZip({DeflatedEntry("linked/evil.dll", "E")})));
    EXPECT_FALSE(CSetupDlg::UnZip(strArchive.c_str(), strTarget.c_str()));
}

} // namespace
