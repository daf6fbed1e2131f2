// verify_trust FILE...: asks the system's Authenticode policy (WinVerifyTrust with
// WINTRUST_ACTION_GENERIC_VERIFY_V2, no user interface, no revocation look-up) about each FILE and prints
// one UTF-8 line "0xHHHHHHHH FILE" per file: the HRESULT, 0x00000000 when the file is trusted. The whole
// value is printed because Wine cuts a process's exit status to 8 bits. Exit status: 0 every file
// trusted, 1 some file not, 2 usage.
#include <windows.h>

#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwchar>
#include <string>

namespace {

void PrintLine(const std::wstring& strLine)
{
    std::wstring strOut = strLine + L"\n";
    int cb = WideCharToMultiByte(
        CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), nullptr, 0, nullptr, nullptr);
    std::string strBytes(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(
        CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), strBytes.data(), cb, nullptr, nullptr);
    DWORD cbWritten = 0;
    WriteFile(
        GetStdHandle(STD_OUTPUT_HANDLE), strBytes.data(), static_cast<DWORD>(strBytes.size()), &cbWritten, nullptr);
}

LONG VerifyFile(LPCWSTR pszPath)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = pszPath;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE: nobody sits at the machine, so the policy never asks.
    HWND hNoUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
    LONG nResult = WinVerifyTrust(hNoUser, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(hNoUser, &action, &data);
    return nResult;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (ppszArgs == nullptr || nArgs < 2)
        return 2;
    int nExit = 0;
    for (int i = 1; i < nArgs; ++i) {
        LONG nResult = VerifyFile(ppszArgs[i]);
        WCHAR szResult[16];
        swprintf(szResult, ARRAYSIZE(szResult), L"0x%08lX", static_cast<unsigned long>(nResult));
        PrintLine(std::wstring(szResult) + L" " + ppszArgs[i]);
        if (nResult != ERROR_SUCCESS)
            nExit = 1;
    }
    LocalFree(ppszArgs);
    return nExit;
}
