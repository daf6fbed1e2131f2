#include "uninstall/Uninstaller.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/RealPath.h"
#include "support/RemoveTree.h"
#include "system/ShellLinks.h"
#include "system/SystemPaths.h"
#include "system/UninstallEntry.h"
#include "uninstall/UninstallRules.h"
#include "core/rules/Names.h"

namespace {

// The shipped installer is a 32-bit program, whose entry lands in the 32-bit view of a 64-bit system;
// an uninstaller of either width looks there first and then in the 64-bit view.
const REGSAM s_registryViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

bool FullFolder(const WCHAR* pszPath, WCHAR (&szFull)[MAX_PATH])
{
    std::wstring strCanonical = CanonicalFolder(pszPath);
    if (strCanonical.empty())
        return false;
    WCHAR szBuf[MAX_PATH];
    DWORD cch = GetFullPathNameW(strCanonical.c_str(), MAX_PATH, szBuf, nullptr);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    return CopyString(szFull, MAX_PATH, CanonicalFolder(szBuf).c_str());
}

// A string value that is complete and fits; registry data need not be zero-terminated.
bool ReadFolderValue(HKEY hRoot, const WCHAR* pszKey, const WCHAR* pszName, REGSAM view, WCHAR (&szFolder)[MAX_PATH])
{
    CRegKey key;
    if (RegOpenKeyExW(hRoot, pszKey, 0, KEY_QUERY_VALUE | view, key.Put()) != ERROR_SUCCESS)
        return false;
    WCHAR szValue[MAX_PATH] = {};
    DWORD cb = sizeof(szValue);
    LSTATUS status = RegGetValueW(
        key.Get(), nullptr, pszName, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, szValue, &cb);
    return status == ERROR_SUCCESS && CopyString(szFolder, MAX_PATH, szValue);
}

// The full path of pszPath, of whatever length; empty when there is none.
std::wstring FullPath(const WCHAR* pszPath)
{
    DWORD cch = GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cch == 0)
        return std::wstring();
    std::wstring str(cch, L'\0');
    cch = GetFullPathNameW(pszPath, static_cast<DWORD>(str.size()), &str[0], nullptr);
    if (cch == 0 || cch >= str.size())
        return std::wstring();
    str.resize(cch);
    return str;
}

// Adds what is left below strFolder (a long path); a folder is listed only when nothing inside it is.
bool CollectLeftovers(const std::wstring& strFolder, std::vector<std::wstring>& vecLeft)
{
    size_t nBefore = vecLeft.size();
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW((strFolder + L"\\*").c_str(), &data));
    if (!find)
        return false;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        std::wstring strPath = strFolder + L"\\" + data.cFileName;
        bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
            && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (!bFolder || !CollectLeftovers(strPath, vecLeft))
            vecLeft.push_back(ShownPath(strPath));
    } while (FindNextFileW(find.Get(), &data));
    return vecLeft.size() > nBefore;
}

bool ReadProgramsFolder(WCHAR (&szFolder)[MAX_PATH])
{
    return ReadFolderValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
        L"Common Programs", 0, szFolder);
}

void RemoveLinkNamed(
    const WCHAR* pszLinkFolder, const WCHAR* pszName, const WCHAR* pszFolder, std::vector<std::wstring>& vecLeft)
{
    WCHAR szLink[MAX_PATH];
    if (!FormatPath(szLink, L"[RemoveShortcuts]", L"%s\\%s.lnk", pszLinkFolder, pszName))
        return;
    if (RemoveLinkInto(szLink, pszFolder) == LinkResult::Failed)
        vecLeft.push_back(szLink);
}

} // namespace

FolderVerdict CheckInstallFolder(const WCHAR* pszFolder, const WCHAR* pszRegistered, WCHAR (&szFull)[MAX_PATH])
{
    szFull[0] = L'\0';
    if (IsRootOrEmpty(pszFolder) || !FullFolder(pszFolder, szFull))
        return FolderVerdict::RootOrEmpty;
    WCHAR szRegistered[MAX_PATH];
    if (pszRegistered == nullptr || !FullFolder(pszRegistered, szRegistered))
        return FolderVerdict::NotRegistered;
    if (!SameFolder(szFull, szRegistered))
        return FolderVerdict::NotRegisteredFolder;
    DWORD dwAttributes = GetFileAttributesW(szFull);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0
        || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return FolderVerdict::NotAFolder;
    WCHAR szClient[MAX_PATH];
    if (!FormatPath(szClient, L"[CheckInstallFolder]", L"%s\\" CLIENT_PROGRAM_NAME, szFull))
        return FolderVerdict::NoClient;
    dwAttributes = GetFileAttributesW(szClient);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FolderVerdict::NoClient;
    return FolderVerdict::Accepted;
}

const WCHAR* VerdictName(FolderVerdict verdict)
{
    switch (verdict) {
    case FolderVerdict::Accepted:
        return L"Accepted";
    case FolderVerdict::RootOrEmpty:
        return L"RootOrEmpty";
    case FolderVerdict::NotRegistered:
        return L"NotRegistered";
    case FolderVerdict::NotRegisteredFolder:
        return L"NotRegisteredFolder";
    case FolderVerdict::NotAFolder:
        return L"NotAFolder";
    case FolderVerdict::NoClient:
        return L"NoClient";
    }
    return L"?";
}

bool ReadInstallLocation(WCHAR (&szFolder)[MAX_PATH])
{
    szFolder[0] = L'\0';
    WCHAR szKey[MAX_PATH];
    if (!FormatPath(szKey, L"[ReadInstallLocation]", L"%s\\%s", g_szUninstallKey, g_szUninstallEntry))
        return false;
    for (REGSAM view : s_registryViews) {
        if (ReadFolderValue(HKEY_LOCAL_MACHINE, szKey, L"InstallLocation", view, szFolder) && szFolder[0] != L'\0')
            return true;
    }
    szFolder[0] = L'\0';
    return false;
}

bool DeleteUninstallEntry()
{
    bool bGone = true;
    for (REGSAM view : s_registryViews) {
        CRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szUninstallKey, 0, KEY_READ | KEY_WRITE | DELETE | view, key.Put())
            != ERROR_SUCCESS)
            continue;
        LSTATUS status = RegDeleteTreeW(key.Get(), g_szUninstallEntry);
        if (status == ERROR_SUCCESS)
            LogNormal(L"[DeleteUninstallEntry] deleted view=%s", view == KEY_WOW64_32KEY ? L"32" : L"64");
        else if (status != ERROR_FILE_NOT_FOUND) {
            LogError(L"[DeleteUninstallEntry] RegDeleteTree error=%ld", static_cast<long>(status));
            bGone = false;
        }
    }
    return bGone;
}

LinkResult RemoveLinkInto(const WCHAR* pszLink, const WCHAR* pszFolder)
{
    if (GetFileAttributesW(pszLink) == INVALID_FILE_ATTRIBUTES)
        return LinkResult::Missing;
    WCHAR szTarget[MAX_PATH] = {};
    {
        CComPtr<IShellLinkW> link;
        CComPtr<IPersistFile> file;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()))
            || FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))
            || FAILED(file->Load(pszLink, STGM_READ))) {
            LogError(L"[RemoveLinkInto] unreadable, kept link=%s", pszLink);
            return LinkResult::KeptElsewhere;
        }
        link->GetPath(szTarget, MAX_PATH, nullptr, SLGP_RAWPATH);
    }
    if (!IsInsideFolder(szTarget, pszFolder)) {
        LogNormal(L"[RemoveLinkInto] kept link=%s target=%s", pszLink, szTarget);
        return LinkResult::KeptElsewhere;
    }
    if (!DeleteFileW(pszLink)) {
        LogError(L"[RemoveLinkInto] DeleteFile link=%s error=%lu", pszLink, GetLastError());
        return LinkResult::Failed;
    }
    LogNormal(L"[RemoveLinkInto] removed link=%s target=%s", pszLink, szTarget);
    return LinkResult::Removed;
}

void RemoveShortcuts(const WCHAR* pszFolder, std::vector<std::wstring>& vecLeft)
{
    CComInit com;
    // An unattended install puts its link on the public desktop; only a link into the folder goes.
    for (bool bAllUsers : {false, true}) {
        WCHAR szDesktop[MAX_PATH] = {};
        if (ReadDesktopFolder(szDesktop, bAllUsers) && szDesktop[0] != L'\0')
            RemoveLinkNamed(szDesktop, g_szDisplayName, pszFolder, vecLeft);
    }

    WCHAR szPrograms[MAX_PATH] = {};
    WCHAR szStartFolder[MAX_PATH];
    WCHAR szUninstallName[MAX_PATH];
    if (!ReadProgramsFolder(szPrograms) || szPrograms[0] == L'\0'
        || !FormatPath(szStartFolder, L"[RemoveShortcuts]", L"%s\\%s", szPrograms, g_szDisplayName)
        || !FormatPath(szUninstallName, L"[RemoveShortcuts]", L"卸载%s", g_szDisplayName))
        return;
    RemoveLinkNamed(szStartFolder, g_szDisplayName, pszFolder, vecLeft);
    RemoveLinkNamed(szStartFolder, szUninstallName, pszFolder, vecLeft);
    // Only an empty folder goes; one that is a link is left alone, as the system might follow it.
    DWORD dwAttributes = GetFileAttributesW(szStartFolder);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0
        && RemoveDirectoryW(szStartFolder))
        LogNormal(L"[RemoveShortcuts] removed folder=%s", szStartFolder);
}

std::vector<std::wstring> RemoveInstallFolder(const WCHAR* pszFolder)
{
    std::vector<std::wstring> vecLeft;
    const std::wstring strFull = IsRootOrEmpty(pszFolder) ? std::wstring() : CanonicalFolder(FullPath(pszFolder));
    if (strFull.empty()) {
        LogError(L"[RemoveInstallFolder] refused folder=%s", pszFolder != nullptr ? pszFolder : L"");
        vecLeft.push_back(pszFolder != nullptr ? pszFolder : L"");
        return vecLeft;
    }
    std::wstring strLong;
    if (RemoveFolderTree(strFull, strLong) != FolderRemoval::LEFT)
        return vecLeft;
    if (!CollectLeftovers(strLong, vecLeft))
        vecLeft.push_back(strFull);
    for (const std::wstring& strLeft : vecLeft)
        LogError(L"[RemoveInstallFolder] left=%s", strLeft.c_str());
    return vecLeft;
}

bool MoveProgramToTemp(const WCHAR* pszTempFolder)
{
    WCHAR szSelf[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    WCHAR szMoved[MAX_PATH];
    if (cch == 0 || cch >= MAX_PATH
        || !FormatPath(szMoved, L"[MoveProgramToTemp]", L"%s\\UnInstall-%lu.exe", pszTempFolder, GetCurrentProcessId()))
        return false;
    if (!MoveFileExW(szSelf, szMoved, MOVEFILE_REPLACE_EXISTING)) {
        LogError(L"[MoveProgramToTemp] MoveFile %s error=%lu", szMoved, GetLastError());
        return false;
    }
    if (!MoveFileExW(szMoved, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogNormal(L"[MoveProgramToTemp] stays in the temporary folder error=%lu", GetLastError());
    LogNormal(L"[MoveProgramToTemp] moved to %s", szMoved);
    return true;
}

bool StartCopyFromTemp(const WCHAR* pszFolder, const WCHAR* pszTempFolder)
{
    const WCHAR szOrigin[] = L"[StartCopyFromTemp]";
    WCHAR szSelf[MAX_PATH] = {};
    DWORD cch = GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    WCHAR szCopy[MAX_PATH];
    if (cch == 0 || cch >= MAX_PATH
        || !FormatPath(szCopy, szOrigin, L"%s\\UnInstall-%lu.exe", pszTempFolder, GetCurrentProcessId()))
        return false;
    // The copy runs elevated: made new through a checked handle, never written through what another
    // user may have placed at its name.
    if (!CopyToFreshFile(szSelf, szCopy)) {
        LogError(L"[StartCopyFromTemp] copy %s error=%lu", szCopy, GetLastError());
        return false;
    }
    HANDLE hSelf = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &hSelf, SYNCHRONIZE, TRUE, 0)) {
        DeleteFileChecked(szCopy);
        return false;
    }
    CKernelHandle self(hSelf);
    WCHAR szCommand[3 * MAX_PATH];
    if (!Format(szCommand, ARRAYSIZE(szCommand), L"\"%s\" \"%s\" /wait=%s", szCopy, pszFolder,
            std::to_wstring(reinterpret_cast<UINT_PTR>(hSelf)).c_str())) {
        DeleteFileChecked(szCopy);
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(szCopy, szCommand, nullptr, nullptr, TRUE, 0, nullptr, pszTempFolder, &startup, &process)) {
        LogError(L"[StartCopyFromTemp] CreateProcess %s error=%lu", szCopy, GetLastError());
        DeleteFileChecked(szCopy);
        return false;
    }
    CKernelHandle copyThread(process.hThread);
    CKernelHandle copyProcess(process.hProcess);
    LogNormal(L"[StartCopyFromTemp] continues as %s", szCommand);
    return true;
}
