#include "core/ZipLayerRules.h"

bool DosDateTimeToUtc(WORD wDosDate, WORD wDosTime, FILETIME* pft)
{
    FILETIME ftLocal;
    if (DosDateTimeToFileTime(wDosDate, wDosTime, &ftLocal) && LocalFileTimeToFileTime(&ftLocal, pft))
        return true;
    *pft = FILETIME {};
    return false;
}

FILETIME UnixTimeToFileTime(DWORD dwUnixTime)
{
    // 100-ns intervals between 1601-01-01 and 1970-01-01.
    const ULONGLONG qwEpoch = 116444736000000000ULL;
    ULONGLONG qw = qwEpoch + static_cast<ULONGLONG>(dwUnixTime) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(qw);
    ft.dwHighDateTime = static_cast<DWORD>(qw >> 32);
    return ft;
}
