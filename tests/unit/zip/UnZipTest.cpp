#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>

#include "TestFiles.h"
#include "ZipBuilder.h"
#include "ZipTestSupport.h"
#include "core/SetupDlg.h"
#include "core/ZipLayer.h"
#include "support/Log.h"

namespace {

class UnZipTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_strSandbox = MakeTempFolder(L"zip");
        ASSERT_FALSE(m_strSandbox.empty());
        m_strTarget = m_strSandbox + L"\\Larkspire";
        m_strArchive = m_strSandbox + L"\\pkg.zip";
        m_strLog = m_strSandbox + L"\\log.txt";
        wcscpy(g_szLogPath, m_strLog.c_str());
    }
    void TearDown() override
    {
        g_szLogPath[0] = L'\0';
        RemoveTree(m_strSandbox);
    }

    BOOL Extract(const std::vector<ZipEntry>& vecEntries) { return ExtractTo(vecEntries, m_strTarget); }
    BOOL ExtractTo(const std::vector<ZipEntry>& vecEntries, const std::wstring& strFolder)
    {
        EXPECT_TRUE(WriteTextFile(m_strArchive, BuildZip(vecEntries)));
        return CSetupDlg::UnZip(m_strArchive.c_str(), strFolder.c_str());
    }
    std::wstring Log() { return Utf16(ReadFileBytes(m_strLog)); }
    bool LogHas(const std::wstring& strText) { return Log().find(strText) != std::wstring::npos; }
    std::wstring InTarget(const std::wstring& strRelative) { return m_strTarget + L"\\" + strRelative; }
    // The sandbox holds the archive, the log and the target folder: anything else was written
    // outside the target.
    std::set<std::wstring> Outside()
    {
        std::set<std::wstring> setOutside;
        for (const std::wstring& strPath : ListTree(m_strSandbox)) {
            if (strPath != L"pkg.zip" && strPath != L"log.txt" && strPath.rfind(L"Larkspire\\", 0) != 0)
                setOutside.insert(strPath);
        }
        return setOutside;
    }

    std::wstring m_strSandbox;
    std::wstring m_strTarget;
    std::wstring m_strArchive;
    std::wstring m_strLog;
};

TEST_F(UnZipTest, ArchiveWithoutItemsYieldsTrueAndCreatesNotEvenTheTarget)
{
    EXPECT_TRUE(Extract({}));
    EXPECT_FALSE(Exists(m_strTarget));
}

TEST_F(UnZipTest, FolderEntriesAreSkippedUnlessTheyCarryData)
{
    ZipEntry docs = StoredEntry("docs/", "");
    docs.dwExternal = FILE_ATTRIBUTE_DIRECTORY;
    ZipEntry lib = StoredEntry("lib/", "");
    lib.dwExternal = FILE_ATTRIBUTE_DIRECTORY;
    // A folder entry stored deflated (as Python's zipfile writes it) has compressed size 2.
    ZipEntry made = UnixEntry("made/", "", 040755);

    ASSERT_TRUE(Extract({docs, lib, DeflatedEntry("lib/a.dll", "A"), made}));
    EXPECT_EQ((std::set<std::wstring> {L"lib\\", L"lib\\a.dll", L"made\\"}), ListTree(m_strTarget));
    EXPECT_TRUE(GetFileAttributesW(InTarget(L"made").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(UnZipTest, EmptyFileIsSkippedWhenStoredAndCreatedWhenDeflated)
{
    ASSERT_TRUE(Extract({StoredEntry("stored.txt", ""), DeflatedEntry("deflated.txt", "")}));
    EXPECT_FALSE(Exists(InTarget(L"stored.txt")));
    ASSERT_TRUE(Exists(InTarget(L"deflated.txt")));
    EXPECT_TRUE(ReadFileBytes(InTarget(L"deflated.txt")).empty());
}

TEST_F(UnZipTest, HostileNamesLandInsideTheTarget)
{
    const struct {
        const char* pszStored;
        const WCHAR* pszLanding;
    } rgCases[] = {
        {"C:/x.dll", L"x.dll"},
        {"/x.dll", L"x.dll"},
        {"\\x.dll", L"x.dll"},
        {"../x.dll", L"x.dll"},
        {"a/../../x.dll", L"x.dll"},
        {"a\\..\\b\\x.dll", L"b\\x.dll"},
    };
    for (const auto& c : rgCases) {
        RemoveTree(m_strTarget);
        ASSERT_TRUE(Extract({DeflatedEntry(c.pszStored, c.pszStored)})) << c.pszStored;
        EXPECT_EQ(c.pszStored, ReadTextFile(InTarget(c.pszLanding))) << c.pszStored;
        EXPECT_TRUE(Outside().empty()) << c.pszStored;
    }
}

TEST_F(UnZipTest, DeviceNamesAndDotOnlyFoldersFailTheItemWithoutWritingOutside)
{
    for (const char* pszName :
        {"CON", "sub/nul.dll", "aux", "COM1.txt", "..././x.dll", ".../x.dll", "a/.../x.dll", ". ./x.dll"}) {
        RemoveTree(m_strTarget);
        EXPECT_FALSE(Extract({DeflatedEntry(pszName, "payload")})) << pszName;
        EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] UnzipItem ")) << pszName;
        EXPECT_TRUE(Outside().empty()) << pszName;
        EXPECT_FALSE(Exists(m_strSandbox + L"\\x.dll")) << pszName;
    }
}

TEST_F(UnZipTest, TargetIsUsedWithOrWithoutItsTrailingSeparator)
{
    // The paths show in the record of a failing item: folder, "/" only when it has no separator.
    const struct {
        std::wstring strFolder;
        std::wstring strLogged;
    } rgCases[] = {
        {m_strTarget, m_strTarget + L"/sub/a.dll"},
        {m_strTarget + L"\\", m_strTarget + L"\\sub/a.dll"},
        {m_strTarget + L"/", m_strTarget + L"/sub/a.dll"},
    };
    for (const auto& c : rgCases) {
        RemoveTree(m_strTarget);
        ASSERT_TRUE(ExtractTo({DeflatedEntry("sub/a.dll", "A")}, c.strFolder)) << Narrow(c.strFolder);
        EXPECT_EQ("A", ReadTextFile(InTarget(L"sub\\a.dll")));
        HANDLE hUsed
            = CreateFileW(InTarget(L"sub\\a.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hUsed);
        EXPECT_FALSE(ExtractTo({DeflatedEntry("sub/a.dll", "B")}, c.strFolder));
        CloseHandle(hUsed);
        EXPECT_TRUE(LogHas(L"[UnzipItem] create " + c.strLogged + L" failed")) << Narrow(Log());
    }
}

// The installer extracts the bytes it received and checked, not the file it wrote of them, which
// another user could replace in the temporary folder before it was opened again.
TEST_F(UnZipTest, ArchiveInMemoryExtractsAsTheFileDoesWhateverTheFileHoldsNow)
{
    ZipEntry folder = StoredEntry("lib/", "");
    std::string strZip = BuildZip({DeflatedEntry("a.dll", "A"), folder, DeflatedEntry("lib/b.dll", "B")});
    ASSERT_TRUE(WriteTextFile(m_strArchive, BuildZip({DeflatedEntry("planted.dll", "P")})));
    const BYTE* pb = reinterpret_cast<const BYTE*>(strZip.data());

    EXPECT_TRUE(CSetupDlg::UnZipBlock(pb, static_cast<int>(strZip.size()), m_strArchive.c_str(), m_strTarget.c_str()));
    EXPECT_EQ((std::set<std::wstring> {L"a.dll", L"lib\\", L"lib\\b.dll"}), ListTree(m_strTarget));
    EXPECT_EQ("B", ReadTextFile(InTarget(L"lib\\b.dll")));

    // Empty, or cut before its directory, the block is no archive: it fails with the archive's name.
    RemoveTree(m_strTarget);
    for (size_t cb : {size_t {0}, size_t {21}, strZip.size() / 2}) {
        EXPECT_FALSE(CSetupDlg::UnZipBlock(pb, static_cast<int>(cb), m_strArchive.c_str(), m_strTarget.c_str())) << cb;
        EXPECT_FALSE(Exists(m_strTarget)) << cb;
    }
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] OpenZip " + m_strArchive + L" failed")) << Narrow(Log());
    std::string strEmpty = BuildZip({});
    EXPECT_TRUE(CSetupDlg::UnZipBlock(reinterpret_cast<const BYTE*>(strEmpty.data()), static_cast<int>(strEmpty.size()),
        m_strArchive.c_str(), m_strTarget.c_str()));
}

TEST_F(UnZipTest, ExistingFileIsReplaced)
{
    CreateDirectoryW(m_strTarget.c_str(), nullptr);
    ASSERT_TRUE(WriteTextFile(InTarget(L"x.dll"), "an older and longer content"));
    ASSERT_TRUE(Extract({DeflatedEntry("x.dll", "new")}));
    EXPECT_EQ("new", ReadTextFile(InTarget(L"x.dll")));
}

TEST_F(UnZipTest, ReadOnlyExistingFileIsReplacedWithTheArchivesAttributes)
{
    CreateDirectoryW(m_strTarget.c_str(), nullptr);
    ASSERT_TRUE(WriteTextFile(InTarget(L"x.dll"), "old"));
    ASSERT_TRUE(WriteTextFile(InTarget(L"y.dll"), "old"));
    SetFileAttributesW(InTarget(L"x.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(InTarget(L"y.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ZipEntry stillReadOnly = DeflatedEntry("y.dll", "Y");
    stillReadOnly.dwExternal = FILE_ATTRIBUTE_READONLY;

    EXPECT_TRUE(Extract({DeflatedEntry("x.dll", "X"), stillReadOnly}));
    EXPECT_EQ("X", ReadTextFile(InTarget(L"x.dll")));
    EXPECT_EQ("Y", ReadTextFile(InTarget(L"y.dll")));
    EXPECT_FALSE(GetFileAttributesW(InTarget(L"x.dll").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(UnZipTest, LockedExistingFileFailsItsItem)
{
    CreateDirectoryW(m_strTarget.c_str(), nullptr);
    ASSERT_TRUE(WriteTextFile(InTarget(L"x.dll"), "old"));
    HANDLE hLock = CreateFileW(InTarget(L"x.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    EXPECT_FALSE(Extract({DeflatedEntry("x.dll", "X")}));
    CloseHandle(hLock);
    EXPECT_EQ("old", ReadTextFile(InTarget(L"x.dll")));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] UnzipItem x.dll failed"));
}

TEST_F(UnZipTest, AttributesFollowTheHostSystem)
{
    ZipEntry readOnly = DeflatedEntry("ro.dll", "1");
    readOnly.dwExternal = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    ZipEntry hidden = DeflatedEntry("hidden.dll", "2");
    hidden.dwExternal = FILE_ATTRIBUTE_HIDDEN;
    ZipEntry ntfsReadOnly = DeflatedEntry("ntfs.dll", "3");
    ntfsReadOnly.wMadeBy = 11 << 8 | 20;
    ntfsReadOnly.dwExternal = FILE_ATTRIBUTE_READONLY;
    // Bits of other hosts' low half are not Windows bits.
    ZipEntry unixWritable = UnixEntry("rw.so", "4", 0100644);
    unixWritable.dwExternal |= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ZipEntry unixReadOnly = UnixEntry("r.so", "5", 0100444);
    ZipEntry unixFolder = UnixEntry("share/", "", 040755);

    ASSERT_TRUE(Extract({readOnly, hidden, ntfsReadOnly, unixWritable, unixReadOnly, unixFolder}));
    auto attributes = [&](const WCHAR* psz) { return GetFileAttributesW(InTarget(psz).c_str()); };
    EXPECT_TRUE(attributes(L"ro.dll") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(attributes(L"hidden.dll") & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes(L"hidden.dll") & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(attributes(L"ntfs.dll") & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(attributes(L"rw.so") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(attributes(L"r.so") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), attributes(L"share") & FILE_ATTRIBUTE_DIRECTORY);
}

ULONGLONG Ticks(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

ULONGLONG DosTicks(const ZipEntry& entry)
{
    FILETIME ftLocal, ftUtc;
    DosDateTimeToFileTime(entry.wDosDate, entry.wDosTime, &ftLocal);
    LocalFileTimeToFileTime(&ftLocal, &ftUtc);
    return Ticks(ftUtc);
}

ULONGLONG UnixTicks(DWORD dw)
{
    return 116444736000000000ULL + dw * 10000000ULL;
}

TEST_F(UnZipTest, TimesComeFromTheDosFieldsThenFromTheFirstLocalUtBlock)
{
    ZipEntry dosOnly = DeflatedEntry("dos.dll", "1");
    ZipEntry modifiedOnly = DeflatedEntry("ut1.dll", "2");
    modifiedOnly.strLocalExtra = UtBlock(0x01, {1500000000});
    ZipEntry allThree = DeflatedEntry("ut7.dll", "3");
    allThree.strLocalExtra = UtBlock(0x07, {1500000000, 1500000100, 1400000000}) + UtBlock(0x01, {1});
    // Only the local header counts.
    ZipEntry centralOnly = DeflatedEntry("central.dll", "4");
    centralOnly.strCentralExtra = UtBlock(0x01, {1500000000});
    ASSERT_TRUE(Extract({dosOnly, modifiedOnly, allThree, centralOnly}));

    auto fileTimes = [&](const WCHAR* psz, FILETIME* pftAccess, FILETIME* pftModified) {
        HANDLE h = CreateFileW(
            InTarget(psz).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        GetFileTime(h, nullptr, pftAccess, pftModified);
        CloseHandle(h);
    };
    FILETIME ftAccess, ftModified;
    fileTimes(L"dos.dll", &ftAccess, &ftModified);
    EXPECT_EQ(DosTicks(dosOnly), Ticks(ftModified));
    EXPECT_EQ(DosTicks(dosOnly), Ticks(ftAccess));
    fileTimes(L"ut1.dll", &ftAccess, &ftModified);
    EXPECT_EQ(UnixTicks(1500000000), Ticks(ftModified));
    EXPECT_EQ(DosTicks(modifiedOnly), Ticks(ftAccess));
    fileTimes(L"ut7.dll", &ftAccess, &ftModified);
    EXPECT_EQ(UnixTicks(1500000000), Ticks(ftModified));
    EXPECT_EQ(UnixTicks(1500000100), Ticks(ftAccess));
    fileTimes(L"central.dll", &ftAccess, &ftModified);
    EXPECT_EQ(DosTicks(centralOnly), Ticks(ftModified));

    // Wine keeps no creation time of its own, so the record shows it.
    ZipHandle hZip = OpenZip(m_strArchive.c_str(), nullptr);
    ASSERT_NE(nullptr, hZip);
    ZipItemInfo info;
    ASSERT_EQ(ZR_OK, QueryZipItem(hZip, 1, &info));
    EXPECT_EQ(DosTicks(modifiedOnly), Ticks(info.ftCreation));
    ASSERT_EQ(ZR_OK, QueryZipItem(hZip, 2, &info));
    EXPECT_EQ(UnixTicks(1400000000), Ticks(info.ftCreation));
    CloseZipArchive(hZip);
}

TEST_F(UnZipTest, ItemWhoseDataDoesNotMatchItsCrcIsStillExtracted)
{
    ZipEntry entry = DeflatedEntry("x.dll", "content");
    entry.dwCrc = 0x12345678;
    ZipEntry stored = StoredEntry("y.dll", "stored");
    stored.dwCrc = 1;
    ASSERT_TRUE(Extract({entry, stored}));
    EXPECT_EQ("content", ReadTextFile(InTarget(L"x.dll")));
    EXPECT_EQ("stored", ReadTextFile(InTarget(L"y.dll")));
}

TEST_F(UnZipTest, DamagedDataFailsTheItemKeepsItsPartAndEndsTheRun)
{
    std::string strBig(100000, 'q');
    for (size_t i = 0; i < strBig.size(); i += 7)
        strBig[i] = static_cast<char>('a' + i % 26);
    std::string strDeflated = DeflateRaw(strBig);
    ZipEntry badData = DeflatedEntry("bad.dll", strBig);
    badData.strCompressed = strDeflated.substr(0, strDeflated.size() / 2) + std::string(64, '\xff');
    ZipEntry shortStored = StoredEntry("short.dll", "abc");
    shortStored.dwUncompressedSize = 10; // the data ends before the item's size
    ZipEntry shortDeflated = DeflatedEntry("short2.dll", "abc");
    shortDeflated.dwUncompressedSize = 1000;

    EXPECT_FALSE(Extract({DeflatedEntry("a.dll", "A"), badData, DeflatedEntry("z.dll", "Z")}));
    EXPECT_EQ("A", ReadTextFile(InTarget(L"a.dll")));
    EXPECT_TRUE(Exists(InTarget(L"bad.dll")));
    EXPECT_FALSE(Exists(InTarget(L"z.dll")));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] UnzipItem bad.dll failed"));

    EXPECT_FALSE(Extract({shortStored}));
    EXPECT_FALSE(Extract({shortDeflated}));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] UnzipItem short2.dll failed"));
}

TEST_F(UnZipTest, UnreadableArchivesFailBeforeWritingAnything)
{
    std::string strZip = BuildZip({DeflatedEntry("a.dll", "A"), DeflatedEntry("b.dll", "B")});
    ASSERT_TRUE(WriteTextFile(m_strArchive, strZip.substr(0, strZip.size() - 30)));
    EXPECT_FALSE(CSetupDlg::UnZip(m_strArchive.c_str(), m_strTarget.c_str()));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] OpenZip " + m_strArchive + L" failed\r\n"));

    ASSERT_TRUE(WriteTextFile(m_strArchive, "this is not a zip archive at all"));
    EXPECT_FALSE(CSetupDlg::UnZip(m_strArchive.c_str(), m_strTarget.c_str()));

    std::wstring strMissing = m_strSandbox + L"\\missing.zip";
    EXPECT_FALSE(CSetupDlg::UnZip(strMissing.c_str(), m_strTarget.c_str()));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] OpenZip " + strMissing + L" failed\r\n"));
    EXPECT_FALSE(Exists(m_strTarget));
}

TEST_F(UnZipTest, DamagedCentralRecordFailsTheRunInsteadOfSkippingItsItem)
{
    std::string strZip = BuildZip({DeflatedEntry("a.dll", "A"), DeflatedEntry("b.dll", "B")});
    size_t nSecond = strZip.find("PK\x01\x02", strZip.find("PK\x01\x02") + 4);
    ASSERT_NE(std::string::npos, nSecond);
    strZip[nSecond + 2] = 'X';
    ASSERT_TRUE(WriteTextFile(m_strArchive, strZip));
    EXPECT_FALSE(CSetupDlg::UnZip(m_strArchive.c_str(), m_strTarget.c_str()));
    EXPECT_EQ("A", ReadTextFile(InTarget(L"a.dll")));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] QueryZipItem 1 failed"));
}

TEST_F(UnZipTest, NullArgumentsAreLoggedAndRefused)
{
    EXPECT_FALSE(CSetupDlg::UnZip(nullptr, L"C:\\x"));
    EXPECT_FALSE(CSetupDlg::UnZip(L"C:\\a.zip", nullptr));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] 原文件=(null)  目标文件=C:\\x\r\n")) << Narrow(Log());
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] 原文件=C:\\a.zip  目标文件=(null)\r\n"));
}

TEST_F(UnZipTest, GbkNamesAreReadInTheAnsiCodePage)
{
    ASSERT_EQ(936u, GetACP()) << "the tests run with LANG=zh_CN.UTF-8";
    // "中文/说明.txt" in GBK; the UTF-8 flag is set but not consulted.
    ZipEntry entry = DeflatedEntry("\xd6\xd0\xce\xc4/\xcb\xb5\xc3\xf7.txt", "gbk");
    entry.wFlags = 0x0800;
    ASSERT_TRUE(Extract({entry}));
    EXPECT_EQ("gbk", ReadTextFile(InTarget(L"中文\\说明.txt")));
}

TEST_F(UnZipTest, NamesAndPathsBeyondTheLimitFailTheirItemWithARecord)
{
    std::string strLong(300, 'n');
    EXPECT_FALSE(Extract({DeflatedEntry(strLong, "1")}));
    EXPECT_TRUE(LogHas(L"[UnzipItem] name too long index=0"));

    // Fits the record but not the path: target plus name pass 259 characters.
    std::string strFits(250, 'm');
    EXPECT_FALSE(Extract({DeflatedEntry("a.dll", "A"), DeflatedEntry(strFits, "2")}));
    EXPECT_TRUE(LogHas(L"[UnzipItem] path too long folder=" + m_strTarget + L"/"));
    EXPECT_EQ("A", ReadTextFile(InTarget(L"a.dll")));
    EXPECT_TRUE(Outside().empty());
}

TEST_F(UnZipTest, EncryptedAndUnknownMethodsFailTheirItem)
{
    ZipEntry encrypted = StoredEntry("enc.dll", std::string(12, '\x55') + "cipher");
    encrypted.wFlags = 1;
    ZipEntry bzip2 = StoredEntry("bz.dll", "BZh91AY&SY-not-really");
    bzip2.wMethod = 12;
    for (const ZipEntry& entry : {encrypted, bzip2}) {
        RemoveTree(m_strTarget);
        EXPECT_FALSE(Extract({entry})) << entry.strName;
        EXPECT_TRUE(ListTree(m_strTarget).empty()) << entry.strName;
    }
}

TEST_F(UnZipTest, EmptyTargetFolderIsRefusedRatherThanTheDriveRoot)
{
    const char* pszProbe = "mirevale-empty-target-probe.dll";
    EXPECT_FALSE(ExtractTo({DeflatedEntry(pszProbe, "1")}, L""));
    EXPECT_FALSE(Exists(L"C:\\mirevale-empty-target-probe.dll"));
    EXPECT_FALSE(Exists(L"\\mirevale-empty-target-probe.dll"));
    EXPECT_TRUE(LogHas(L"[CSetupDlg::UnZip] UnzipItem mirevale-empty-target-probe.dll failed"));
}

TEST(ZipLayer, QueriesClearTheRecordAndCountWithMinusOne)
{
    std::wstring strFolder = MakeTempFolder(L"ziplayer");
    std::wstring strArchive = strFolder + L"\\a.zip";
    ASSERT_TRUE(WriteTextFile(strArchive, BuildZip({DeflatedEntry("one/a.dll", "A"), StoredEntry("b.dll", "BB")})));
    ZipHandle hZip = OpenZip(strArchive.c_str(), nullptr);
    ASSERT_NE(nullptr, hZip);

    ZipItemInfo info;
    memset(&info, 0x5A, sizeof(info));
    ASSERT_EQ(ZR_OK, QueryZipItem(hZip, -1, &info));
    EXPECT_EQ(2, info.nIndex);
    EXPECT_EQ(L'\0', info.szName[0]);
    EXPECT_EQ(0u, info.dwAttributes);
    EXPECT_EQ(0, info.nCompressedSize);
    EXPECT_EQ(0u, info.ftModified.dwLowDateTime);

    ASSERT_EQ(ZR_OK, QueryZipItem(hZip, 1, &info));
    EXPECT_EQ(std::wstring(L"b.dll"), info.szName);
    EXPECT_EQ(2, info.nCompressedSize);
    EXPECT_EQ(2, info.nUncompressedSize);
    ASSERT_EQ(ZR_OK, QueryZipItem(hZip, 0, &info));
    EXPECT_EQ(std::wstring(L"one/a.dll"), info.szName);
    EXPECT_EQ(0, info.nIndex);

    for (int nBad : {2, -2, 1000}) {
        info.nIndex = 7;
        info.nUncompressedSize = 7;
        info.nCompressedSize = 7;
        EXPECT_NE(ZR_OK, QueryZipItem(hZip, nBad, &info));
        EXPECT_EQ(0, info.nIndex);
        EXPECT_EQ(L'\0', info.szName[0]);
        EXPECT_EQ(0, info.nUncompressedSize);
        EXPECT_EQ(7, info.nCompressedSize);
    }
    EXPECT_EQ(ZR_OK, CloseZipArchive(hZip));
    EXPECT_EQ(nullptr, OpenZip(strArchive.c_str(), "secret"));
    RemoveTree(strFolder);
}

} // namespace
