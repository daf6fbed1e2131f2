#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestFiles.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "support/RemoveTree.h"

// Paths without links, as far as the Windows side can make them: cases with links come from Unix
// symbolic links that tests/e2e/test_zip.py plants (tests/unit/zip).

namespace {

class RealPathTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strFolder = MakeTempFolder(L"realpath");
        ASSERT_FALSE(m_strFolder.empty());
    }
    void TearDown() override
    {
        g_szLogPath[0] = L'\0';
        RemoveTree(LongPath(m_strFolder), GetFileAttributesW(m_strFolder.c_str()));
    }
    std::wstring Path(const WCHAR* pszName) const { return m_strFolder + L"\\" + pszName; }
    std::string Read(const std::wstring& strPath) const
    {
        std::vector<BYTE> bytes = ReadFileBytes(strPath);
        return std::string(bytes.begin(), bytes.end());
    }

    std::wstring m_strFolder;
};

TEST_F(RealPathTest, PlainPathsLeadWhereTheySayInAnySpelling)
{
    ASSERT_TRUE(WriteFileBytes(Path(L"a.txt"), "a", 1));
    CFileHandle file(CreateFileW(Path(L"a.txt").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    ASSERT_TRUE(file);
    EXPECT_TRUE(LeadsWhereItSays(file.Get(), Path(L"a.txt").c_str()));
    std::wstring strOther = m_strFolder + L"//.\\A.TXT";
    EXPECT_TRUE(LeadsWhereItSays(file.Get(), strOther.c_str()));
    EXPECT_TRUE(LeadsWhereItSays(file.Get(), (L"\\\\?\\" + Path(L"a.txt")).c_str()));
    // Another name is not where this handle leads.
    ASSERT_TRUE(WriteFileBytes(Path(L"b.txt"), "b", 1));
    EXPECT_FALSE(LeadsWhereItSays(file.Get(), Path(L"b.txt").c_str()));
    EXPECT_FALSE(LeadsWhereItSays(file.Get(), m_strFolder.c_str()));
}

TEST_F(RealPathTest, HeldFolderIsMadeConfirmedAndCannotBeMovedAway)
{
    std::wstring strFolder = Path(L"Larkspire");
    CFileHandle held = HoldRealFolder(strFolder.c_str(), nullptr, true);
    ASSERT_TRUE(held);
    EXPECT_TRUE(IsHeldFolder(held.Get(), strFolder.c_str()));
    // A folder of that name that was there already may be somebody else's.
    EXPECT_FALSE(HoldRealFolder(strFolder.c_str(), nullptr, true));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(HoldRealFolder(strFolder.c_str(), nullptr, false));
    // Held without delete sharing: no rename, so no link can take its place.
    EXPECT_FALSE(MoveFileExW(strFolder.c_str(), Path(L"aside").c_str(), 0));
    held.Close();
    ASSERT_TRUE(MoveFileExW(strFolder.c_str(), Path(L"aside").c_str(), 0));
    // Another folder under the name is not the one that was held.
    CFileHandle aside = HoldRealFolder(Path(L"aside").c_str(), nullptr, false);
    ASSERT_TRUE(CreateDirectoryW(strFolder.c_str(), nullptr));
    EXPECT_FALSE(IsHeldFolder(aside.Get(), strFolder.c_str()));
    EXPECT_TRUE(IsHeldFolder(aside.Get(), Path(L"aside").c_str()));
    ASSERT_TRUE(WriteFileBytes(Path(L"file"), "f", 1));
    EXPECT_FALSE(HoldRealFolder(Path(L"file").c_str(), nullptr, false));
    EXPECT_FALSE(HoldRealFolder(Path(L"missing\\below").c_str(), nullptr, false));
}

TEST_F(RealPathTest, FreshFileReplacesWhatHadTheNameAndSharesOnlyReading)
{
    std::wstring strPath = Path(L"p01.zip");
    ASSERT_TRUE(WriteFileBytes(strPath, "old", 3));
    ASSERT_TRUE(SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CFileHandle fresh = CreateFreshFile(strPath.c_str(), GENERIC_WRITE, 0);
        ASSERT_TRUE(fresh) << GetLastError();
        EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                OPEN_EXISTING, 0, nullptr));
        DWORD cb = 0;
        ASSERT_TRUE(WriteFile(fresh.Get(), "new", 3, &cb, nullptr));
    }
    EXPECT_EQ("new", Read(strPath));
    {
        CFileHandle gone = CreateFreshFile(strPath.c_str(), GENERIC_WRITE, FILE_FLAG_DELETE_ON_CLOSE);
        ASSERT_TRUE(gone);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strPath.c_str()));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strPath.c_str()));
    EXPECT_TRUE(DeleteFileChecked(strPath.c_str()));
    // A folder of the name is not a file to replace.
    ASSERT_TRUE(CreateDirectoryW(Path(L"folder").c_str(), nullptr));
    EXPECT_FALSE(CreateFreshFile(Path(L"folder").c_str(), GENERIC_WRITE, 0));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Path(L"folder").c_str()));
}

TEST_F(RealPathTest, CopyGoesToANewFileNotThroughWhatHadItsName)
{
    std::wstring strSource = Path(L"UnInstall.exe");
    ASSERT_TRUE(WriteFileBytes(strSource, "program", 7));
    // Another user's file under the copy's name, reached through a second name.
    std::wstring strOther = Path(L"elsewhere.exe");
    ASSERT_TRUE(WriteFileBytes(strOther, "other", 5));
    std::wstring strCopy = Path(L"UnInstall-7.exe");
    ASSERT_TRUE(CreateHardLinkW(strCopy.c_str(), strOther.c_str(), nullptr));
    ASSERT_TRUE(CopyToFreshFile(strSource.c_str(), strCopy.c_str())) << GetLastError();
    EXPECT_EQ("program", Read(strCopy));
    EXPECT_EQ("other", Read(strOther));
    // No source: the name is left alone; a folder of the name is no file to replace.
    EXPECT_FALSE(CopyToFreshFile(Path(L"missing.exe").c_str(), strCopy.c_str()));
    EXPECT_EQ("program", Read(strCopy));
    ASSERT_TRUE(CreateDirectoryW(Path(L"folder").c_str(), nullptr));
    EXPECT_FALSE(CopyToFreshFile(strSource.c_str(), Path(L"folder").c_str()));
}

TEST_F(RealPathTest, LogWithASecondNameIsNotWritten)
{
    std::wstring strLog = Path(L"log.txt");
    wcscpy(g_szLogPath, strLog.c_str());
    LogNormal(L"first");
    EXPECT_FALSE(Read(strLog).empty());
    // A hard link made beforehand would let the log's records land in any file of the machine.
    std::wstring strOther = Path(L"elsewhere.txt");
    ASSERT_TRUE(WriteFileBytes(strOther, "other", 5));
    ASSERT_TRUE(DeleteFileW(strLog.c_str()));
    ASSERT_TRUE(CreateHardLinkW(strLog.c_str(), strOther.c_str(), nullptr));
    LogNormal(L"second");
    EXPECT_EQ("other", Read(strOther));
}

} // namespace
