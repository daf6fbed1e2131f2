// Lays out what the installer's finishing steps leave in the system, with the installer's own code, for
// the uninstaller's end-to-end tests; and holds a file open the way a running program would.
//   uninstall_fixture.exe install FOLDER   uninstall entry, desktop link and Start-menu links for FOLDER
//   uninstall_fixture.exe links FOLDER     only the three links, pointing into FOLDER
//   uninstall_fixture.exe hold FILE SIGNAL opens FILE without sharing, creates SIGNAL\held, and keeps the
//                                          file open until SIGNAL\release appears (or five minutes pass)
//   uninstall_fixture.exe run COMMAND      starts COMMAND as a literal command line (quotes as given)
//   uninstall_fixture.exe run-entry [ARGS] starts the UninstallString of the entry, as the system does,
//                                          with ARGS added the way a deployment script adds "/S"
//   uninstall_fixture.exe open FILE        opens FILE (a shortcut) through the shell, as a click does
// The starting modes wait for the started program, where they get its handle, and return its exit code.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "app/Globals.h"
#include "support/Handles.h"
#include "system/ShellLinks.h"
#include "system/UninstallEntry.h"

#include <vector>

namespace {

void MakeLinks(const std::wstring& strFolder)
{
    std::wstring strTarget = strFolder + L"/iQorRemote.exe";
    std::wstring strIcon = strFolder + L"/favicon.ico";
    CreateDesktopLink(g_szDisplayName, strFolder.c_str(), strTarget.c_str(), strIcon.c_str(), false);
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

int WaitFor(HANDLE hProcess)
{
    CKernelHandle process(hProcess);
    WaitForSingleObject(process.Get(), 5 * 60 * 1000);
    DWORD dwExit = 1;
    GetExitCodeProcess(process.Get(), &dwExit);
    return static_cast<int>(dwExit);
}

int Run(std::wstring strCommand)
{
    std::vector<WCHAR> command(strCommand.begin(), strCommand.end());
    command.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 5;
    CloseHandle(process.hThread);
    return WaitFor(process.hProcess);
}

int RunEntry(const std::wstring& strExtra)
{
    WCHAR szCommand[1024] = {};
    DWORD cb = sizeof(szCommand);
    std::wstring strKey = std::wstring(g_szUninstallKey) + L"\\" + g_szUninstallEntry;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), L"UninstallString", RRF_RT_REG_SZ, nullptr, szCommand, &cb)
        != ERROR_SUCCESS)
        return 6;
    return Run(strExtra.empty() ? std::wstring(szCommand) : std::wstring(szCommand) + L" " + strExtra);
}

int Open(const std::wstring& strFile)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = strFile.c_str();
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info))
        return 7;
    // A shortcut's program may be started without a handle coming back.
    return info.hProcess != nullptr ? WaitFor(info.hProcess) : 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2)
        return 2;
    std::wstring strMode = argv[1];
    std::wstring strPath = argc > 2 ? argv[2] : L"";
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
    if (strMode == L"run")
        return Run(strPath);
    if (strMode == L"run-entry")
        return RunEntry(strPath);
    if (strMode == L"open")
        return Open(strPath);
    return 2;
}
