#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>

#include "TestFiles.h"
#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "support/Log.h"
#include "support/RealPath.h"

// Run by tests/e2e/test_crc.py: nginx serves the folder MIREVALE_CRC_SERVED (as seen from Wine) at
// MIREVALE_TEST_BASE_URL, and the tests write the files to be served into it.

namespace {

std::wstring Env(const WCHAR* pszName)
{
    const WCHAR* psz = _wgetenv(pszName);
    return psz != nullptr ? psz : L"";
}

bool WriteBytes(const std::wstring& strPath, const std::string& str)
{
    return WriteFileBytes(strPath, str.data(), str.size());
}

// UTF-16LE with a byte-order mark, as the server publishes its text files.
std::string Utf16File(const std::wstring& strText)
{
    std::string str = "\xff\xfe";
    for (WCHAR ch : strText) {
        str.push_back(static_cast<char>(ch & 0xFF));
        str.push_back(static_cast<char>(ch >> 8));
    }
    return str;
}

DWORD Crc(const std::string& str)
{
    return crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size()));
}

std::wstring Decimal(DWORD dw)
{
    return std::to_wstring(dw);
}

class FileCrcTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strServed = Env(L"MIREVALE_CRC_SERVED");
        ASSERT_FALSE(m_strServed.empty()) << "run by tests/e2e/test_crc.py";
        m_pDlg = std::make_unique<CSetupDlg>();
        m_strSandbox = MakeTempFolder(L"crc");
        ASSERT_FALSE(m_strSandbox.empty());
        m_strSetup = m_strSandbox + L"\\Larkspire";
        ASSERT_TRUE(CreateDirectoryW(m_strSetup.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((m_strSetup + L"\\bin").c_str(), nullptr));
        wcscpy(m_pDlg->m_szSetupPath, m_strSetup.c_str());
        // As the run holds the folder it made.
        m_pDlg->m_installFolder = HoldRealFolder(m_strSetup.c_str(), nullptr, false);
        ASSERT_TRUE(m_pDlg->m_installFolder);
        wcscpy(m_pDlg->m_szDriveRoot, (m_strSandbox + L"\\").c_str());
        m_strLog = m_strSandbox + L"\\log.txt";
        wcscpy(g_szLogPath, m_strLog.c_str());
        DeleteFileW(Served(L"filecrc.txt").c_str());
        DeleteFileW(Served(L"UnInstall.exe").c_str());
    }
    void TearDown() override { g_szLogPath[0] = L'\0'; }

    std::wstring Served(const std::wstring& strName) { return m_strServed + L"\\" + strName; }
    void Install(const std::wstring& strName, const std::string& strContent)
    {
        ASSERT_TRUE(WriteBytes(m_strSetup + L"\\" + strName, strContent)) << Narrow(strName);
    }
    void Publish(const std::wstring& strList) { ASSERT_TRUE(WriteBytes(Served(L"filecrc.txt"), Utf16File(strList))); }
    std::wstring Log() { return Utf16(ReadFileBytes(m_strLog)); }
    bool LogHas(const std::wstring& str) { return Log().find(str) != std::wstring::npos; }

    std::wstring m_strServed;
    std::unique_ptr<CSetupDlg> m_pDlg;
    std::wstring m_strSandbox;
    std::wstring m_strSetup;
    std::wstring m_strLog;
};

TEST_F(FileCrcTest, ListsThatCompareNoFileYieldTrue)
{
    for (const WCHAR* pszList : {L"missing.dll;0\r\nbin\\gone.dll;0\r\n", L"missing.dll\r\nother.dll\r\n",
             L"missing.dll;1;2\r\nother.dll;3;4\r\n", L"missing.dll;0x1F2E\r\nother.dll;abc\r\n"}) {
        Publish(pszList);
        EXPECT_TRUE(m_pDlg->CheckFileCRC()) << Narrow(pszList);
    }
    EXPECT_FALSE(LogHas(L"missing.dll loacalCRC"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::Execute] filecrc.txt-url = " + g_strBaseUrl + L"filecrc.txt\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] filecrc content missing.dll;0\r\nbin\\gone.dll;0\r\n\r\n"));
}

TEST_F(FileCrcTest, MatchingFilesPassWithTheirRecords)
{
    Install(L"a.dll", "alpha");
    Install(L"bin\\b.dll", "beta");
    Publish(L"a.dll;" + Decimal(Crc("alpha")) + L"\r\nbin\\b.dll;   " + Decimal(Crc("beta")) + L"\r\n");
    EXPECT_TRUE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] a.dll loacalCRC=" + Decimal(Crc("alpha")) + L", netCRC="
        + Decimal(Crc("alpha")) + L"\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] bin\\b.dll loacalCRC=" + Decimal(Crc("beta"))));
}

TEST_F(FileCrcTest, HexadecimalIsReadUpToItsFirstNonDecimalCharacter)
{
    Install(L"a.dll", "alpha");
    // Decimal digits followed by letters: the digits count, and they match.
    Publish(L"a.dll;" + Decimal(Crc("alpha")) + L"ABCDEF\r\n");
    EXPECT_TRUE(m_pDlg->CheckFileCRC());
    wchar_t szHex[16];
    swprintf(szHex, 16, L"%u%X", 1u, Crc("alpha"));
    Publish(std::wstring(L"a.dll;") + szHex + L"\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] a.dll CRC is not equal\r\n"));
}

TEST_F(FileCrcTest, MissingFileFailsWithBothRecords)
{
    Publish(L"absent.dll;123\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::GetFileCRC] open " + m_strSetup + L"\\absent.dll failed\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] absent.dll loacalCRC=0, netCRC=123\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] absent.dll GetCRC error\r\n"));
}

TEST_F(FileCrcTest, EmptyFileFailsWithItsSize)
{
    Install(L"empty.dll", "");
    Publish(L"empty.dll;123\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::GetFileCRC] " + m_strSetup + L"\\empty.dll size=0\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] empty.dll GetCRC error\r\n"));
}

TEST_F(FileCrcTest, LargeFileGrowsTheBufferAndLaterFilesReuseIt)
{
    ASSERT_EQ(10485760, m_pDlg->m_nRecvBufSize);
    std::string strLarge(10485761 + 4096, '\0');
    for (size_t i = 0; i < strLarge.size(); ++i)
        strLarge[i] = static_cast<char>((i * 2654435761u) >> 13);
    Install(L"bin\\large.pak", strLarge);
    Install(L"small.dll", "small");
    Install(L"tiny.dll", "t");
    Publish(L"bin\\large.pak;" + Decimal(Crc(strLarge)) + L"\r\nsmall.dll;" + Decimal(Crc("small")) + L"\r\ntiny.dll;"
        + Decimal(Crc("t")) + L"\r\n");
    EXPECT_TRUE(m_pDlg->CheckFileCRC()) << Narrow(Log());
    EXPECT_EQ(static_cast<int>(strLarge.size()) + 10, m_pDlg->m_nRecvBufSize);
    EXPECT_TRUE(LogHas(L"tiny.dll loacalCRC=" + Decimal(Crc("t"))));
}

TEST_F(FileCrcTest, FirstMismatchEndsTheCheck)
{
    Install(L"a.dll", "alpha");
    Install(L"b.dll", "beta");
    Publish(L"a.dll;" + Decimal(Crc("alpha")) + L"\r\nb.dll;" + Decimal(Crc("beta") ^ 1)
        + L"\r\nnever-read.dll;55\r\nbin\\never.dll;0\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] b.dll CRC is not equal\r\n"));
    std::wstring strLog = Log();
    // The list itself is logged whole; no record after it names the lines that follow.
    std::wstring strAfterList = strLog.substr(strLog.find(L"b.dll loacalCRC"));
    EXPECT_EQ(std::wstring::npos, strAfterList.find(L"never-read.dll"));
}

TEST_F(FileCrcTest, SaturatedValueIsComparedAsThatValue)
{
    Install(L"a.dll", "alpha");
    Publish(L"a.dll;99999999999\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"netCRC=4294967295\r\n"));
}

TEST_F(FileCrcTest, MissingShortOrEmptyListFails)
{
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] download filecrc.txt failed\r\n"));

    ASSERT_TRUE(WriteBytes(Served(L"filecrc.txt"), "\xff\xfe"));
    DeleteFileW(m_strLog.c_str());
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC] download filecrc.txt failed\r\n"));

    ASSERT_TRUE(WriteBytes(Served(L"filecrc.txt"), std::string("\xff\xfe\0\0a\0", 6)));
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::CheckFileCRC]filecrc.txt no content\r\n"));
}

TEST_F(FileCrcTest, NameThatMakesThePathTooLongFailsWithoutOverrun)
{
    std::wstring strLong(300, L'n');
    Publish(strLong + L";123\r\n");
    EXPECT_FALSE(m_pDlg->CheckFileCRC());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::GetFileCRC] path too long name=" + strLong + L"\r\n"));
    EXPECT_EQ(0u, m_pDlg->GetFileCRC(nullptr));
    EXPECT_EQ(0u, m_pDlg->GetFileCRC(L""));
}

class UninstallFileTest : public FileCrcTest {
protected:
    std::wstring Target() { return m_strSetup + L"\\UnInstall.exe"; }
};

TEST_F(UninstallFileTest, ReplacesAnExistingUninstaller)
{
    Install(L"UnInstall.exe", std::string(5000, 'o'));
    ASSERT_TRUE(WriteBytes(Served(L"UnInstall.exe"), "MZ new uninstaller"));
    EXPECT_TRUE(m_pDlg->DownloadUninstallFile());
    std::vector<BYTE> bytes = ReadFileBytes(Target());
    EXPECT_EQ("MZ new uninstaller", std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::Execute] UnInstall.exe-url = " + g_strBaseUrl + L"UnInstall.exe\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::DownloadUninstallFile] Download UnInstall.exe seccuss\r\n"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe seccuss\r\n"));
}

TEST_F(UninstallFileTest, EmptyBodyGivesAnEmptyUninstaller)
{
    Install(L"UnInstall.exe", "old");
    ASSERT_TRUE(WriteBytes(Served(L"UnInstall.exe"), ""));
    EXPECT_TRUE(m_pDlg->DownloadUninstallFile());
    EXPECT_TRUE(GetFileAttributesW(Target().c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(ReadFileBytes(Target()).empty());
}

TEST_F(UninstallFileTest, FailedDownloadTouchesNoFile)
{
    Install(L"UnInstall.exe", "old");
    EXPECT_FALSE(m_pDlg->DownloadUninstallFile());
    EXPECT_EQ(3u, ReadFileBytes(Target()).size());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed\r\n"));
}

TEST_F(UninstallFileTest, MissingInstallFolderFailsTheCreation)
{
    ASSERT_TRUE(WriteBytes(Served(L"UnInstall.exe"), "MZ"));
    wcscpy(m_pDlg->m_szDriveRoot, (m_strSandbox + L"\\nowhere\\").c_str());
    EXPECT_FALSE(m_pDlg->DownloadUninstallFile());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe failed\r\n"));
}

TEST_F(UninstallFileTest, DriveRootThatMakesThePathTooLongFailsWithoutOverrun)
{
    ASSERT_TRUE(WriteBytes(Served(L"UnInstall.exe"), "MZ"));
    std::wstring strRoot = m_strSandbox + L"\\" + std::wstring(240 - m_strSandbox.size(), L'r') + L"\\";
    ASSERT_LT(strRoot.size(), 259u);
    wcscpy(m_pDlg->m_szDriveRoot, strRoot.c_str());
    EXPECT_FALSE(m_pDlg->DownloadUninstallFile());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::DownloadUninstallFile] path too long root=" + strRoot + L"\r\n"));
}

} // namespace
