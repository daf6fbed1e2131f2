#include "core/DestPath.h"

#include "support/Format.h"

bool ChooseDriveRoot(const WCHAR* pszList, DWORD cchList, WCHAR* pszRoot, size_t cchRoot, bool* pbDriveC)
{
    *pbDriveC = false;
    if (pszList == nullptr || cchList < 4)
        return false;
    for (DWORD i = 0; i + 4 <= cchList && pszList[i] != L'\0'; i += 4) {
        if (_wcsnicmp(pszList + i, L"C:\\", 4) == 0) {
            *pbDriveC = true;
            return Format(pszRoot, cchRoot, L"%.3s", pszList + i);
        }
    }
    return Format(pszRoot, cchRoot, L"%.3s", pszList);
}

DWORD QueryDriveList(DriveListQuery query, WCHAR* pszList, DWORD cchList, int nTries, DWORD dwPauseMs, int* pnAsked)
{
    *pnAsked = 0;
    for (int i = 0; i < nTries; ++i) {
        if (i > 0)
            Sleep(dwPauseMs);
        ZeroMemory(pszList, cchList * sizeof(WCHAR));
        ++*pnAsked;
        DWORD cch = query(cchList - 1, pszList);
        if (cch >= cchList)
            return 0; // the list did not fit and was not written
        if (cch >= 4)
            return cch;
    }
    return 0;
}
