#include "system/SystemPaths.h"

#include <cstdarg>

#include "support/Format.h"
#include "support/Log.h"

bool FormatPath(WCHAR (&szBuf)[MAX_PATH], const WCHAR* pszOrigin, const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bFits = FormatV(szBuf, MAX_PATH, pszFormat, args);
    va_end(args);
    if (!bFits)
        LogError(L"%s path longer than %d characters, step skipped: %s", pszOrigin, MAX_PATH - 1, szBuf);
    return bFits;
}

bool EqualNoCase(const WCHAR* pszA, const WCHAR* pszB)
{
    return CompareStringOrdinal(pszA, -1, pszB, -1, TRUE) == CSTR_EQUAL;
}
