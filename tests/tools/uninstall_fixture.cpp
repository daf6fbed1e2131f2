// Lays out what the installer's finishing steps leave in the system, with the installer's own code, for
// the uninstaller's end-to-end tests; and holds a file open the way a running program would.
//   uninstall_fixture.exe install FOLDER   uninstall entry, desktop link and Start-menu links for FOLDER
//   uninstall_fixture.exe links FOLDER     only the three links, pointing into FOLDER
//   uninstall_fixture.exe hold FILE SIGNAL opens FILE without sharing, creates SIGNAL\held, and keeps the
//                                          file open until SIGNAL\release appears (or five minutes pass)
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "app/Globals.h"
#include "support/Handles.h"
#include "system/ShellLinks.h"
#include "system/UninstallEntry.h"

namespace {

void MakeLinks(const std::wstring& strFolder)
{
    std::wstring strTarget = strFolder + L"/iQorRemote.exe";
    std::wstring strIcon = strFolder + L"/favicon.ico";
    CreateDesktopLink(g_szDisplayName, strFolder.c_str(), strTarget.c_str(), strIcon.c_str());
    CreateStartMenuLinks(strFolder.c_str());
}

int Hold(const std::wstring& strFile, const std::wstring& strSignal)
{
    CFileHandle file(CreateFileW(strFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return 3;
    CFileHandle held(CreateFileW(
        (strSignal + L"\\held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held)
        return 4;
    held.Close();
    std::wstring strRelease = strSignal + L"\\release";
    for (int i = 0; i < 3000 && GetFileAttributesW(strRelease.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3)
        return 2;
    std::wstring strMode = argv[1];
    std::wstring strPath = argv[2];
    std::wstring strSignal = argc > 3 ? argv[3] : L"";
    LocalFree(argv);
    if (strMode == L"install") {
        MakeLinks(strPath);
        WriteUninstallEntry(strPath.c_str(), L"C:\\UnInstall Larkspire");
        return 0;
    }
    if (strMode == L"links") {
        MakeLinks(strPath);
        return 0;
    }
    if (strMode == L"hold" && !strSignal.empty())
        return Hold(strPath, strSignal);
    return 2;
}
