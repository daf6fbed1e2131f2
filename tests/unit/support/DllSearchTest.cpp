#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestFiles.h"
#include "support/DllSearch.h"

namespace {

std::wstring ProgramFolder()
{
    WCHAR szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring str = szPath;
    return str.substr(0, str.find_last_of(L'\\'));
}

// A DLL planted beside the program, under a name the system folder does not have: found there before
// the restriction, not after it. The restriction holds for the rest of the process, so this one case
// looks at both sides.
TEST(DllSearchTest, ADllBesideTheProgramIsNoLongerLoaded)
{
    WCHAR szSystem[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(szSystem, MAX_PATH));
    const std::wstring strPlanted = ProgramFolder() + L"\\mirevale-planted.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(szSystem) + L"\\version.dll").c_str(), strPlanted.c_str(), FALSE));

    HMODULE hBefore = LoadLibraryW(L"mirevale-planted.dll");
    EXPECT_NE(nullptr, hBefore) << "the planted DLL is not found even without the restriction";
    if (hBefore != nullptr)
        FreeLibrary(hBefore);

    EXPECT_TRUE(RestrictDllSearch());
    HMODULE hAfter = LoadLibraryW(L"mirevale-planted.dll");
    EXPECT_EQ(nullptr, hAfter) << "the DLL beside the program was loaded";
    if (hAfter != nullptr)
        FreeLibrary(hAfter);
    EXPECT_NE(nullptr, LoadLibraryW(L"version.dll")) << "the system's own DLLs still load";
    DeleteFileW(strPlanted.c_str());
}

} // namespace
