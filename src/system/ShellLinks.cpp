#include "system/ShellLinks.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "system/SystemPaths.h"
#include "core/rules/Names.h"

namespace {

const WCHAR s_szShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Registry data need not be zero-terminated and may not fit: the value is read into a scratch buffer and
// copied only when it is a complete string that fits, so szFolder is never left unterminated.
LSTATUS QueryFolderValue(HKEY hKey, const WCHAR* pszName, WCHAR (&szFolder)[MAX_PATH])
{
    WCHAR szValue[MAX_PATH] = {};
    DWORD dwType = 0;
    DWORD cb = sizeof(szValue);
    LSTATUS status = RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cb);
    if (status != ERROR_SUCCESS)
        return status;
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (wcsnlen(szValue, MAX_PATH) == MAX_PATH)
        return ERROR_MORE_DATA;
    CopyString(szFolder, MAX_PATH, szValue);
    return ERROR_SUCCESS;
}

} // namespace

bool ReadDesktopFolder(WCHAR (&szFolder)[MAX_PATH], bool bAllUsers)
{
    CRegKey key;
    if (RegOpenKeyExW(bAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, s_szShellFolders, 0, KEY_READ, key.Put())
        != ERROR_SUCCESS)
        return false;
    QueryFolderValue(key.Get(), bAllUsers ? L"Common Desktop" : L"Desktop", szFolder);
    return true;
}

WCHAR* NormalizeSlashes(WCHAR* pszPath, size_t cchPath, bool bTrailingSlash)
{
    if (pszPath == nullptr)
        return pszPath;
    // Writing never overtakes reading (nOut <= i), so the look-ahead sees the original text.
    size_t nOut = 0;
    for (size_t i = 0; pszPath[i] != L'\0'; ++i) {
        WCHAR ch = pszPath[i] == L'\\' ? L'/' : pszPath[i];
        WCHAR chNext = pszPath[i + 1];
        if (ch == L'/' && i != 0 && (chNext == L'/' || chNext == L'\\'))
            continue;
        pszPath[nOut++] = ch;
    }
    pszPath[nOut] = L'\0';
    if (nOut == 0)
        return pszPath;
    bool bEndsWithSlash = pszPath[nOut - 1] == L'/';
    if (bTrailingSlash && !bEndsWithSlash && nOut + 1 < cchPath) {
        pszPath[nOut] = L'/';
        pszPath[nOut + 1] = L'\0';
    } else if (!bTrailingSlash && bEndsWithSlash) {
        pszPath[nOut - 1] = L'\0';
    }
    return pszPath;
}

void RemoveDuplicateLink(const WCHAR* pszFolder, const WCHAR* pszTarget, const WCHAR* pszName)
{
    const WCHAR szOrigin[] = L"[RemoveDuplicateLink]";
    WCHAR szPattern[MAX_PATH];
    WCHAR szWanted[MAX_PATH];
    WCHAR szOwnFile[MAX_PATH];
    if (!FormatPath(szPattern, szOrigin, L"%s*.lnk", pszFolder) || !FormatPath(szWanted, szOrigin, L"%s", pszTarget)
        || !FormatPath(szOwnFile, szOrigin, L"%s.lnk", pszName))
        return;
    NormalizeSlashes(szWanted, MAX_PATH, false);

    WIN32_FIND_DATAW findData;
    CFindHandle find(FindFirstFileW(szPattern, &findData));
    if (!find)
        return;
    do {
        if (findData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        CComPtr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
            return;
        CComPtr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())))
            return;
        WCHAR szLinkPath[MAX_PATH];
        if (!FormatPath(szLinkPath, szOrigin, L"%s%s", pszFolder, findData.cFileName))
            continue;
        // A file that is no readable link cannot start the client; its empty target must not count.
        if (FAILED(file->Load(szLinkPath, STGM_READ)))
            continue;
        WCHAR szFound[MAX_PATH] = {};
        link->GetPath(szFound, MAX_PATH, nullptr, SLGP_RAWPATH);
        NormalizeSlashes(szFound, MAX_PATH, false);
        if (!EqualNoCase(szFound, szWanted))
            continue;
        file.Release();
        link.Release();
        if (!EqualNoCase(findData.cFileName, szOwnFile))
            DeleteFileW(szLinkPath);
        return;
    } while (FindNextFileW(find.Get(), &findData));
}

void CreateShellLink(const WCHAR* pszName, const WCHAR* pszWorkDir, const WCHAR* pszTarget, const WCHAR* pszIcon,
    WCHAR (&szFolder)[MAX_PATH], const WCHAR* pszArguments)
{
    if (pszName == nullptr || pszWorkDir == nullptr || pszTarget == nullptr || pszIcon == nullptr
        || szFolder[0] == L'\0')
        return;
    NormalizeSlashes(szFolder, MAX_PATH, true);
    // Formed before anything changes: a link that cannot be saved must not cost the user an older one.
    WCHAR szLinkPath[MAX_PATH];
    if (!FormatPath(szLinkPath, L"[CreateShellLink]", L"%s%s.lnk", szFolder, pszName))
        return;

    CComInit com;
    RemoveDuplicateLink(szFolder, pszTarget, pszName);
    CComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
        return;
    link->SetWorkingDirectory(pszWorkDir);
    link->SetDescription(pszName);
    link->SetIconLocation(pszIcon, 0);
    link->SetPath(pszTarget);
    if (pszArguments != nullptr && pszArguments[0] != L'\0')
        link->SetArguments(pszArguments);
    CComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid())))
        return;
    CopyString(szFolder, MAX_PATH, szLinkPath);
    file->Save(szFolder, TRUE);
}

void CreateDesktopLink(
    const WCHAR* pszName, const WCHAR* pszWorkDir, const WCHAR* pszTarget, const WCHAR* pszIcon, bool bAllUsers)
{
    WCHAR szFolder[MAX_PATH] = {};
    if (!ReadDesktopFolder(szFolder, bAllUsers))
        return;
    // Without a folder the link would land in (and old links be deleted from) the current directory.
    if (szFolder[0] == L'\0') {
        LogNormal(L"[CreateDesktopLink] no Desktop folder, no shortcut");
        return;
    }
    CreateShellLink(pszName, pszWorkDir, pszTarget, pszIcon, szFolder, nullptr);
}

int CreateStartMenuLinks(const WCHAR* pszSetupPath)
{
    const WCHAR szOrigin[] = L"[CSetupDlg::SetStartShellLink]";
    CRegKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0, KEY_ALL_ACCESS, key.Put());
    if (status != ERROR_SUCCESS) {
        LogNormal(
            L"[CSetupDlg::SetStartShellLink] OpenKey SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
            L"Folders error=%d",
            static_cast<int>(status));
        return 0;
    }
    WCHAR szPrograms[MAX_PATH] = {};
    status = QueryFolderValue(key.Get(), L"Common Programs", szPrograms);
    if (status != ERROR_SUCCESS) {
        LogNormal(L"[CSetupDlg::SetStartShellLink] QueryValue Common Programs error=%d", static_cast<int>(status));
        return 0;
    }
    key.Close();
    LogNormal(L"[CSetupDlg::SetStartShellLink] ProgramsPath=%s", szPrograms);

    WCHAR szFolder[MAX_PATH];
    if (!FormatPath(szFolder, szOrigin, L"%s\\%s", szPrograms, g_szDisplayName))
        return 0;
    // Old links go first, so that the folder can be removed when the user added nothing to it.
    WCHAR szPath[MAX_PATH];
    if (FormatPath(szPath, szOrigin, L"%s\\%s.lnk", szFolder, g_szDisplayName))
        DeleteFileW(szPath);
    if (FormatPath(szPath, szOrigin, L"%s\\卸载%s.lnk", szFolder, g_szDisplayName))
        DeleteFileW(szPath);
    RemoveDirectoryW(szFolder);
    CreateDirectoryW(szFolder, nullptr);

    WCHAR szTarget[MAX_PATH];
    WCHAR szIcon[MAX_PATH];
    if (!FormatPath(szIcon, szOrigin, L"%s/favicon.ico", pszSetupPath))
        return 1;
    if (FormatPath(szTarget, szOrigin, L"%s/" CLIENT_PROGRAM_NAME, pszSetupPath))
        CreateShellLink(g_szDisplayName, pszSetupPath, szTarget, szIcon, szFolder, nullptr);

    WCHAR szName[MAX_PATH];
    WCHAR szArguments[MAX_PATH];
    // CreateShellLink turned szFolder into the link's path; it fitted before, so it fits again.
    Format(szFolder, MAX_PATH, L"%s\\%s", szPrograms, g_szDisplayName);
    Format(szName, MAX_PATH, L"卸载%s", g_szDisplayName);
    if (FormatPath(szTarget, szOrigin, L"%s\\UnInstall.exe", pszSetupPath)
        && FormatPath(szArguments, szOrigin, L"\"%s\"", pszSetupPath))
        CreateShellLink(szName, pszSetupPath, szTarget, szIcon, szFolder, szArguments);
    return 1;
}
