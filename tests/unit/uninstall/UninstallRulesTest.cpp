#include <gtest/gtest.h>

#include "TestFiles.h"
#include "uninstall/UninstallRules.h"

namespace {

struct ArgumentsCase {
    const wchar_t* pszArguments;
    bool bValid;
    bool bHasFolder;
    const wchar_t* pszFolder;
    UINT_PTR nWait;
};

TEST(UninstallArgumentsTest, FolderInQuotesOrNothingAndTheCopysWaitHandle)
{
    const ArgumentsCase cases[] = {
        {L"\"C:\\Larkspire\"", true, true, L"C:\\Larkspire", 0},
        {L"  \"C:\\Larkspire\"  ", true, true, L"C:\\Larkspire", 0},
        {L"C:\\Larkspire", true, true, L"C:\\Larkspire", 0},
        {L"\"D:\\Program Files\\Larkspire\"", true, true, L"D:\\Program Files\\Larkspire", 0},
        // No escapes: a trailing backslash stays a backslash and does not swallow the quote.
        {L"\"C:\\Larkspire\\\"", true, true, L"C:\\Larkspire\\", 0},
        {L"", true, false, L"", 0},
        {L"   ", true, false, L"", 0},
        // An explicit empty folder is not "no folder": it must be refused, not replaced by the entry's.
        {L"\"\"", true, true, L"", 0},
        {L"\"C:\\Larkspire\" /wait=124", true, true, L"C:\\Larkspire", 124},
        {L"\"C:\\Larkspire\"\t/wait=8", true, true, L"C:\\Larkspire", 8},
    };
    for (const ArgumentsCase& c : cases) {
        UninstallArguments args = ParseUninstallArguments(c.pszArguments);
        SCOPED_TRACE(Narrow(c.pszArguments));
        EXPECT_EQ(c.bValid, args.bValid);
        EXPECT_EQ(c.bHasFolder, args.bHasFolder);
        EXPECT_EQ(std::wstring(c.pszFolder), args.strFolder);
        EXPECT_EQ(c.nWait, args.nWaitHandle);
    }
}

TEST(UninstallArgumentsTest, AnythingElseIsRejectedWhole)
{
    for (const wchar_t* psz : {
             L"C:\\Program Files\\Larkspire", // unquoted path with a blank: two folders
             L"\"C:\\Larkspire\" \"D:\\Other\"",
             L"\"C:\\Larkspire",
             L"\"C:\\Larkspire\"x",
             L"C:\\Lark\"spire\"",
             L"/wait=12 \"C:\\Larkspire\"", // the switch comes last
             L"\"C:\\Larkspire\" /wait=",
             L"\"C:\\Larkspire\" /wait=0",
             L"\"C:\\Larkspire\" /wait=12x",
             L"\"C:\\Larkspire\" /wait=-3",
             L"\"C:\\Larkspire\" /wait=99999999999999999999999",
             L"\"C:\\Larkspire\" /wait=1 /wait=2",
         }) {
        UninstallArguments args = ParseUninstallArguments(psz);
        EXPECT_FALSE(args.bValid) << Narrow(psz);
        EXPECT_FALSE(args.bHasFolder) << Narrow(psz);
        EXPECT_TRUE(args.strFolder.empty()) << Narrow(psz);
    }
    EXPECT_TRUE(ParseUninstallArguments(nullptr).bValid);
}

TEST(UninstallArgumentsTest, SilentSwitchStandsAnywhereOnceAndIsSeenOnALineRefusedWhole)
{
    const struct {
        const wchar_t* pszArguments;
        bool bValid;
        bool bSilent;
        const wchar_t* pszFolder;
    } cases[] = {
        {L"/S", true, true, L""},
        {L"\"C:\\Larkspire\" /S", true, true, L"C:\\Larkspire"},
        {L"/s \"C:\\Larkspire\"", true, true, L"C:\\Larkspire"},
        {L"\"C:\\Larkspire\" /wait=12 /S", true, true, L"C:\\Larkspire"},
        {L"\"C:\\Larkspire\"", true, false, L"C:\\Larkspire"},
        {L"\"/S\"", true, false, L"/S"}, // in quotes it names a folder
        {L"\"C:\\Larkspire\" /S /S", false, true, L""},
        {L"\"C:\\Larkspire\" \"C:\\Other\" /S", false, true, L""},
        {L"\"C:\\Larkspire /S", false, true, L""},
        {L"\"C:\\Larkspire\" \"C:\\Other\"", false, false, L""},
    };
    for (const auto& c : cases) {
        UninstallArguments args = ParseUninstallArguments(c.pszArguments);
        SCOPED_TRACE(Narrow(c.pszArguments));
        EXPECT_EQ(c.bValid, args.bValid);
        EXPECT_EQ(c.bSilent, args.bSilent);
        EXPECT_EQ(std::wstring(c.pszFolder), args.strFolder);
    }
}

TEST(UninstallArgumentsTest, ProgramNameIsSkippedAsTheSystemSplitsIt)
{
    EXPECT_STREQ(L"\"C:\\Larkspire\"", SkipProgramName(L"\"C:\\Larkspire\\UnInstall.exe\" \"C:\\Larkspire\""));
    EXPECT_STREQ(L"\"C:\\Larkspire\"", SkipProgramName(L"UnInstall.exe   \"C:\\Larkspire\""));
    EXPECT_STREQ(L"x", SkipProgramName(L"\"C:\\A B\\UnInstall.exe\"x"));
    EXPECT_STREQ(L"", SkipProgramName(L"\"C:\\Larkspire\\UnInstall.exe\""));
    EXPECT_STREQ(L"", SkipProgramName(L"\"C:\\unterminated"));
    EXPECT_STREQ(L"", SkipProgramName(nullptr));
}

TEST(UninstallFolderRulesTest, CanonicalFormAndSameFolder)
{
    EXPECT_EQ(L"C:\\Larkspire", CanonicalFolder(L"C:/Larkspire/"));
    EXPECT_EQ(L"C:\\Larkspire\\sub", CanonicalFolder(L"C:\\\\Larkspire\\/sub\\\\"));
    EXPECT_EQ(L"C:\\", CanonicalFolder(L"C:"));
    EXPECT_EQ(L"C:\\", CanonicalFolder(L"C:\\\\"));
    EXPECT_EQ(L"\\", CanonicalFolder(L"\\"));
    EXPECT_EQ(L"\\\\server\\share", CanonicalFolder(L"//server//share/"));
    EXPECT_EQ(L"", CanonicalFolder(L""));

    EXPECT_TRUE(SameFolder(L"C:\\Larkspire", L"c:/LARKSPIRE\\"));
    EXPECT_FALSE(SameFolder(L"C:\\Larkspire", L"C:\\Larkspire2"));
    EXPECT_FALSE(SameFolder(L"C:\\Larkspire", L"C:\\Larkspire\\sub"));
}

TEST(UninstallFolderRulesTest, InsideMeansBelowTheFolderWithoutDotSegments)
{
    const wchar_t szFolder[] = L"C:\\Larkspire";
    for (const wchar_t* psz : {L"C:\\Larkspire/iQorRemote.exe", L"C:\\Larkspire\\UnInstall.exe",
             L"c:\\larkspire\\IQORREMOTE.EXE", L"C:/Larkspire//sub/x.dll", L"C:\\Larkspire\\a..b\\x"})
        EXPECT_TRUE(IsInsideFolder(psz, szFolder)) << Narrow(psz);
    for (const wchar_t* psz : {L"C:\\Larkspire", L"C:\\Larkspire\\", L"C:\\Larkspire2\\iQorRemote.exe",
             L"C:\\Larkspir\\iQorRemote.exe", L"D:\\Larkspire\\iQorRemote.exe", L"C:\\Larkspire\\..\\Windows\\x.exe",
             L"C:\\Larkspire\\.\\x.exe", L"C:\\Larkspire\\sub\\..", L"iQorRemote.exe", L""})
        EXPECT_FALSE(IsInsideFolder(psz, szFolder)) << Narrow(psz);
    EXPECT_FALSE(IsInsideFolder(L"C:\\x", L""));
    // A folder given with its trailing separator means the same folder.
    EXPECT_TRUE(IsInsideFolder(L"C:\\Larkspire\\x", L"C:\\Larkspire\\"));
}

TEST(UninstallFolderRulesTest, DriveRootForTheLogAndTheCopy)
{
    EXPECT_EQ(L"C:\\", DriveRootOf(L"C:\\Larkspire"));
    EXPECT_EQ(L"D:\\", DriveRootOf(L"d:/Larkspire"));
    EXPECT_EQ(L"C:\\", DriveRootOf(L""));
    EXPECT_EQ(L"C:\\", DriveRootOf(L"\\\\server\\share"));
    EXPECT_EQ(L"C:\\", DriveRootOf(L"Larkspire"));
}

TEST(UninstallFinalMessageTest, DoneOrTheLeftoversByNameAndHowManyMore)
{
    std::wstring strDone = FinalMessage({});
    EXPECT_NE(std::wstring::npos, strDone.find(L"已从您的计算机中卸载"));

    std::wstring strTwo = FinalMessage({L"C:\\Larkspire\\a.dll", L"C:\\Larkspire\\sub\\b.dll"});
    EXPECT_NE(std::wstring::npos, strTwo.find(L"\nC:\\Larkspire\\a.dll\n"));
    EXPECT_NE(std::wstring::npos, strTwo.find(L"\nC:\\Larkspire\\sub\\b.dll\n"));
    EXPECT_EQ(std::wstring::npos, strTwo.find(L"另有"));

    std::vector<std::wstring> vecMany;
    for (int i = 0; i < 13; ++i)
        vecMany.push_back(L"C:\\Larkspire\\f" + std::to_wstring(i));
    std::wstring strMany = FinalMessage(vecMany, 10);
    EXPECT_NE(std::wstring::npos, strMany.find(L"\nC:\\Larkspire\\f9\n"));
    EXPECT_EQ(std::wstring::npos, strMany.find(L"f10"));
    EXPECT_NE(std::wstring::npos, strMany.find(L"另有 3 项"));
}

} // namespace
