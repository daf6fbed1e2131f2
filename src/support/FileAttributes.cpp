#include "support/FileAttributes.h"

bool ClearReadOnly(const WCHAR* pszPath, DWORD dwAttributes)
{
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return true;
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    return SetFileAttributesW(pszPath, AttributesWithoutReadOnly(dwAttributes)) != FALSE;
}

DWORD AttributesWithoutReadOnly(DWORD dwAttributes)
{
    // Only these may be set; none of them at all is spelled NORMAL.
    const DWORD dwSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
        | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE;
    DWORD dwNew = dwAttributes & dwSettable;
    return dwNew != 0 ? dwNew : FILE_ATTRIBUTE_NORMAL;
}
