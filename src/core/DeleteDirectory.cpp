#include <shlwapi.h>

#include <cwchar>

#include "core/SetupDlg.h"
#include "support/FileAttributes.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"

// An empty path, a bare drive ("C:", "C:\", "\") or anything whose full path is a root names no
// install folder: removing "everything below" it would empty a drive.
static bool IsRootOrEmpty(const WCHAR* pszFolder)
{
    size_t cch = wcslen(pszFolder);
    while (cch > 0 && (pszFolder[cch - 1] == L'\\' || pszFolder[cch - 1] == L'/'))
        --cch;
    if (cch == 0 || (cch == 2 && pszFolder[1] == L':'))
        return true;
    WCHAR szFull[MAX_PATH];
    DWORD cchFull = GetFullPathNameW(pszFolder, MAX_PATH, szFull, nullptr);
    return cchFull == 0 || cchFull >= MAX_PATH || PathIsRootW(szFull);
}

// A junction or symbolic link is removed as the link itself; what it points at is never entered.
// RemoveDirectory cannot be trusted with that: where the system follows the link (Wine), it removes
// the folder the link points at when that folder is empty. So the link is opened as a reparse point
// and deleted through that handle only when the handle really holds the link.
static bool RemoveLink(const WCHAR* pszPath)
{
    CFileHandle link(
        CreateFileW(pszPath, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link)
        return false;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &tag, sizeof(tag))
        || (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return false;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(link.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

static void DeleteTree(const WCHAR* pszFolder)
{
    WCHAR szPattern[MAX_PATH];
    if (!Format(szPattern, MAX_PATH, L"%s//*.*", pszFolder)) {
        LogError(L"[CSetupDlg::DeleteDirectory] path too long folder=%s", pszFolder);
        return;
    }
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(szPattern, &data));
    if (!find)
        return;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0)
            continue;
        WCHAR szPath[MAX_PATH];
        if (!Format(szPath, MAX_PATH, L"%s//%s", pszFolder, data.cFileName)) {
            LogError(L"[CSetupDlg::DeleteDirectory] path too long folder=%s name=%s", pszFolder, data.cFileName);
            continue;
        }
        // A read-only file (an archive may carry the attribute) would stay, and its folders with it.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            RemoveLink(szPath);
        else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            CSetupDlg::DeleteDirectory(szPath);
        else if (ClearReadOnly(szPath, data.dwFileAttributes))
            DeleteFileW(szPath);
    } while (FindNextFileW(find.Get(), &data));
}

BOOL CSetupDlg::DeleteDirectory(const WCHAR* pszFolder)
{
    if (pszFolder == nullptr || IsRootOrEmpty(pszFolder)) {
        LogError(L"[CSetupDlg::DeleteDirectory] refused folder=%s", pszFolder);
        return FALSE;
    }
    DWORD dwAttributes = GetFileAttributesW(pszFolder);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return RemoveLink(pszFolder) ? TRUE : FALSE;
    ClearReadOnly(pszFolder, dwAttributes);
    DeleteTree(pszFolder);
    return RemoveDirectoryW(pszFolder) ? TRUE : FALSE;
}
