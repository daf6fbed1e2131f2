// Runs a command line and writes its whole exit code, in decimal, to a file: Wine's own exit status
// keeps only the low 8 bits, and the installer's codes are larger.
//   exit_code.exe RESULT_FILE PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3)
        return 2;
    std::wstring strResult = argv[1];
    std::wstring strCommand;
    for (int i = 2; i < argc; ++i)
        strCommand += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    LocalFree(argv);
    std::vector<WCHAR> command(strCommand.begin(), strCommand.end());
    command.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 3;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD dwExit = 0;
    BOOL bRead = GetExitCodeProcess(process.hProcess, &dwExit);
    CloseHandle(process.hProcess);
    if (!bRead)
        return 4;
    FILE* pFile = _wfopen(strResult.c_str(), L"w");
    if (pFile == nullptr)
        return 5;
    bool bWritten = fprintf(pFile, "%lu\n", dwExit) > 0;
    return fclose(pFile) == 0 && bWritten ? 0 : 5;
}
