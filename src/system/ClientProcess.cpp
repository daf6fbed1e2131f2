#include "system/ClientProcess.h"

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "support/Handles.h"
#include "support/Log.h"
#include "system/SystemPaths.h"
#include "core/rules/Names.h"

bool FindProcess(const WCHAR* pszExeName, const WCHAR* pszFolder)
{
    if (pszExeName == nullptr || pszExeName[0] == L'\0' || pszFolder == nullptr || pszFolder[0] == L'\0')
        return false;
    // A cut path could match a cut module path of some other program: no answer is safer than that one.
    WCHAR szWanted[MAX_PATH];
    if (!FormatPath(szWanted, L"[FindProcess]", L"%s\\%s", pszFolder, pszExeName))
        return false;

    CFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    BOOL bEntry = Process32FirstW(snapshot.Get(), &entry);
    while (bEntry) {
        if (EqualNoCase(entry.szExeFile, pszExeName)) {
            EnableDebugPrivilege();
            CKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
            if (process) {
                WCHAR szPath[MAX_PATH] = {};
                GetModuleFileNameExW(process.Get(), nullptr, szPath, MAX_PATH);
                LogNormal(L"[FindProcess] Path=%s", szPath);
                if (EqualNoCase(szPath, szWanted))
                    return true;
            }
        }
        entry = {};
        entry.dwSize = sizeof(entry);
        bEntry = Process32NextW(snapshot.Get(), &entry);
    }
    return false;
}

bool EnableDebugPrivilege()
{
    CKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid))
        return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
}

void StartClient(const WCHAR* pszSetupPath)
{
    WCHAR szClient[MAX_PATH] = {};
    if (!FormatPath(szClient, L"[CSetupDlg::LaunchClient]", L"%s\\" CLIENT_PROGRAM_NAME, pszSetupPath))
        return;
    // No error box for a missing or damaged client, and the start completes before the installer,
    // which ends right after this call, goes away.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = szClient;
    info.lpDirectory = pszSetupPath;
    info.nShow = SW_SHOW;
    ShellExecuteExW(&info);
}
