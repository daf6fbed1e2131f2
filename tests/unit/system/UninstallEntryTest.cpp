#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "SystemTestSupport.h"
#include "TestFiles.h"
#include "support/Handles.h"
#include "system/UninstallEntry.h"

namespace {

const wchar_t s_szUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t s_szEntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane Client";

// The entry key belongs to the prefix that other test programs share: none before, none after.
class UninstallEntryTest : public testing::Test {
protected:
    void SetUp() override { DeleteEntry(); }
    void TearDown() override { DeleteEntry(); }
    static void DeleteEntry() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, s_szEntryKey); }

    static bool EntryExists()
    {
        CRegKey key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, s_szEntryKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    }

    // A REG_SZ value stored with exactly one terminating zero; the string before it.
    static void ExpectString(const wchar_t* pszName, const std::wstring& strExpected)
    {
        auto value = ReadRegValue(HKEY_LOCAL_MACHINE, s_szEntryKey, pszName);
        ASSERT_TRUE(value.has_value()) << Narrow(pszName);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value->first) << Narrow(pszName);
        EXPECT_EQ(2 * (strExpected.size() + 1), value->second.size()) << Narrow(pszName);
        std::wstring strStored = Utf16(value->second);
        EXPECT_EQ(strExpected + L'\0', strStored) << Narrow(pszName);
    }

    CTestLog m_log;
};

TEST_F(UninstallEntryTest, WritesTheSevenValuesForTheInstallFolderAndLogsTheUninstallCommand)
{
    WriteUninstallEntry(L"C:\\Larkspire", L"C:\\UnInstall Larkspire");

    ExpectString(L"DisplayIcon", L"C:\\Larkspire\\iQorRemote.exe");
    ExpectString(L"AppExePath", L"iQorRemote.exe");
    ExpectString(L"DisplayName", L"Mirevale");
    ExpectString(L"Publisher", L"Mirevale");
    ExpectString(L"DisplayVersion", L"2.0");
    ExpectString(L"InstallLocation", L"C:\\Larkspire\\");
    const std::wstring strCommand = L"\"C:\\Larkspire\\UnInstall.exe\" \"C:\\Larkspire\"";
    ASSERT_EQ(43u, strCommand.size());
    ExpectString(L"UninstallString", strCommand);

    std::vector<std::wstring> expected
        = {L"[CSetupDlg::WriteRegistry] UninstallString \"C:\\Larkspire\\UnInstall.exe\" \"C:\\Larkspire\" "
           L"m_szUnInstallPath=C:\\UnInstall Larkspire"};
    EXPECT_EQ(expected, m_log.Messages());
}

TEST_F(UninstallEntryTest, RepeatedInstallationOverwritesTheSevenValuesAndKeepsOthers)
{
    WriteUninstallEntry(L"D:\\An Older And Much Longer Install Folder", L"D:\\UnInstall");
    CSavedRegValue foreign(HKEY_LOCAL_MACHINE, s_szEntryKey, L"EstimatedSize");
    DWORD dwSize = 4096;
    ASSERT_TRUE(foreign.SetRaw(REG_DWORD, &dwSize, sizeof(dwSize)));

    WriteUninstallEntry(L"C:\\Larkspire", L"C:\\UnInstall Larkspire");

    ExpectString(L"DisplayIcon", L"C:\\Larkspire\\iQorRemote.exe");
    ExpectString(L"AppExePath", L"iQorRemote.exe");
    ExpectString(L"DisplayName", L"Mirevale");
    ExpectString(L"Publisher", L"Mirevale");
    ExpectString(L"DisplayVersion", L"2.0");
    ExpectString(L"InstallLocation", L"C:\\Larkspire\\");
    ExpectString(L"UninstallString", L"\"C:\\Larkspire\\UnInstall.exe\" \"C:\\Larkspire\"");
    auto kept = ReadRegValue(HKEY_LOCAL_MACHINE, s_szEntryKey, L"EstimatedSize");
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), kept->first);
    ASSERT_EQ(sizeof(DWORD), kept->second.size());
    EXPECT_EQ(0, memcmp(kept->second.data(), &dwSize, sizeof(dwSize)));
}

TEST_F(UninstallEntryTest, ReleaseSerialIsRecordedAndReadBackOnlyAsADecimalAboveZero)
{
    EXPECT_EQ(0, ReadInstalledReleaseSerial()) << "no entry";
    WriteUninstallEntry(L"C:\\Larkspire", L"C:\\UnInstall Larkspire");
    EXPECT_FALSE(ReadRegValue(HKEY_LOCAL_MACHINE, s_szEntryKey, L"ReleaseSerial").has_value())
        << "a release without a serial records none";
    EXPECT_EQ(0, ReadInstalledReleaseSerial());

    WriteUninstallEntry(L"C:\\Larkspire", L"C:\\UnInstall Larkspire", 123456789012345678LL);
    ExpectString(L"ReleaseSerial", L"123456789012345678");
    EXPECT_EQ(123456789012345678LL, ReadInstalledReleaseSerial());

    CSavedRegValue serial(HKEY_LOCAL_MACHINE, s_szEntryKey, L"ReleaseSerial");
    for (const wchar_t* pszStored : {L"", L"-3", L"7x", L" 7", L"1234567890123456789"}) {
        ASSERT_TRUE(serial.SetString(pszStored));
        EXPECT_EQ(0, ReadInstalledReleaseSerial()) << Narrow(pszStored);
    }
    DWORD dwSerial = 9;
    ASSERT_TRUE(serial.SetRaw(REG_DWORD, &dwSerial, sizeof(dwSerial)));
    EXPECT_EQ(0, ReadInstalledReleaseSerial()) << "only the text the installer writes counts";
    ASSERT_TRUE(serial.SetRaw(REG_SZ, L"12", 4));
    EXPECT_EQ(12, ReadInstalledReleaseSerial()) << "a text stored without its terminating zero";
}

struct RefusedOpen {
    static inline int s_nCalls;
    static inline REGSAM s_samAsked;
    static LSTATUS WINAPI Open(HKEY, LPCWSTR, DWORD, REGSAM sam, PHKEY phKey)
    {
        ++s_nCalls;
        s_samAsked = sam;
        *phKey = nullptr;
        return ERROR_ACCESS_DENIED;
    }
};

TEST_F(UninstallEntryTest, WithoutRightsToTheUninstallKeyNothingIsWrittenOrLogged)
{
    RefusedOpen::s_nCalls = 0;
    WriteUninstallEntry(L"C:\\Larkspire", L"C:\\UnInstall Larkspire", 0, RefusedOpen::Open);

    EXPECT_EQ(1, RefusedOpen::s_nCalls);
    EXPECT_EQ(static_cast<REGSAM>(KEY_WRITE), RefusedOpen::s_samAsked);
    EXPECT_FALSE(EntryExists());
    EXPECT_TRUE(m_log.Messages().empty());
}

// Values are formed in buffers of 260 units: one that would be cut is left out and logged, the others
// are still written.
TEST_F(UninstallEntryTest, ValueTooLongForItsBufferIsLeftOutWithALogRecord)
{
    const std::wstring strFolder = L"C:\\" + std::wstring(250, L'x');
    WriteUninstallEntry(strFolder.c_str(), L"C:\\UnInstall Larkspire");

    EXPECT_FALSE(ReadRegValue(HKEY_LOCAL_MACHINE, s_szEntryKey, L"DisplayIcon").has_value());
    EXPECT_FALSE(ReadRegValue(HKEY_LOCAL_MACHINE, s_szEntryKey, L"UninstallString").has_value());
    ExpectString(L"AppExePath", L"iQorRemote.exe");
    ExpectString(L"DisplayName", L"Mirevale");
    ExpectString(L"InstallLocation", strFolder + L"\\");

    std::vector<std::wstring> messages = m_log.Messages();
    ASSERT_EQ(2u, messages.size());
    for (const std::wstring& strMessage : messages)
        EXPECT_EQ(0u, strMessage.find(L"[CSetupDlg::WriteRegistry] path longer than 259 characters, step skipped: "))
            << Narrow(strMessage);
    EXPECT_NE(std::wstring::npos, messages[0].find(strFolder + L"\\iQ")) << Narrow(messages[0]);
    EXPECT_EQ(
        0u, messages[1].find(L"[CSetupDlg::WriteRegistry] path longer than 259 characters, step skipped: \"C:\\"));
}

} // namespace
