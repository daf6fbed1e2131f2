#include <shlwapi.h>

#include <cwchar>

#include "core/SetupDlg.h"
#include "support/Log.h"
#include "support/RemoveTree.h"

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

BOOL CSetupDlg::DeleteDirectory(const WCHAR* pszFolder)
{
    if (pszFolder == nullptr || IsRootOrEmpty(pszFolder)) {
        LogError(L"[CSetupDlg::DeleteDirectory] refused folder=%s", pszFolder);
        return FALSE;
    }
    WCHAR szFull[MAX_PATH];
    DWORD cchFull = GetFullPathNameW(pszFolder, MAX_PATH, szFull, nullptr);
    if (cchFull == 0 || cchFull >= MAX_PATH)
        return FALSE;
    // Entry by entry through checked handles, in the long form: names beyond MAX_PATH go as well.
    std::wstring strLong = LongPath(szFull);
    DWORD dwAttributes = GetFileAttributesW(strLong.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    RemoveTree(strLong, dwAttributes);
    return GetFileAttributesW(strLong.c_str()) == INVALID_FILE_ATTRIBUTES ? TRUE : FALSE;
}
