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
