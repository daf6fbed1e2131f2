#include "core/SetupDlg.h"
#include "support/Log.h"
#include "support/RemoveTree.h"

BOOL CSetupDlg::DeleteDirectory(const WCHAR* pszFolder)
{
    WCHAR szFull[MAX_PATH];
    DWORD cchFull = IsRootOrEmpty(pszFolder) ? 0 : GetFullPathNameW(pszFolder, MAX_PATH, szFull, nullptr);
    if (cchFull == 0 || cchFull >= MAX_PATH) {
        LogError(L"[CSetupDlg::DeleteDirectory] refused folder=%s", pszFolder);
        return FALSE;
    }
    // Entry by entry through checked handles.
    std::wstring strLong;
    return RemoveFolderTree(szFull, strLong) == FolderRemoval::REMOVED ? TRUE : FALSE;
}
