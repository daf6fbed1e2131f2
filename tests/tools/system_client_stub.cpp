// Stand-in for the installed client: records its process id and working folder beside itself, signals
// that it runs, and waits until the test lets it go (or, should the test have died, for five minutes).
#include <windows.h>

#include <cwchar>
#include <string>

#include "SystemClientStub.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    WCHAR szExe[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return 1;
    std::wstring strFolder(szExe);
    strFolder.resize(strFolder.find_last_of(L'\\'));

    HANDLE hExit = CreateEventW(nullptr, TRUE, FALSE, StubExitEvent(strFolder).c_str());
    HANDLE hReady = CreateEventW(nullptr, TRUE, FALSE, StubReadyEvent(strFolder).c_str());
    if (hExit == nullptr || hReady == nullptr)
        return 1;

    WCHAR szCurrent[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, szCurrent);
    std::wstring strMarker = std::to_wstring(GetCurrentProcessId()) + L"\r\n" + szCurrent + L"\r\n";
    // Written aside and renamed, so that whoever sees the marker also sees what it says.
    std::wstring strPart = StubMarkerPath(strFolder) + L".part";
    HANDLE hFile
        = CreateFileW(strPart.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD cbWritten = 0;
        WriteFile(hFile, strMarker.data(), static_cast<DWORD>(strMarker.size() * sizeof(wchar_t)), &cbWritten, nullptr);
        CloseHandle(hFile);
        MoveFileExW(strPart.c_str(), StubMarkerPath(strFolder).c_str(), MOVEFILE_REPLACE_EXISTING);
    }

    SetEvent(hReady);
    WaitForSingleObject(hExit, 5 * 60 * 1000);
    CloseHandle(hReady);
    CloseHandle(hExit);
    return 0;
}
