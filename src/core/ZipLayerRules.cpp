#include "core/ZipLayerRules.h"

#include <cwchar>

bool IsWindowsAttributeHost(DWORD dwVersionMadeBy)
{
    switch ((dwVersionMadeBy >> 8) & 0xFF) {
    case 0: // MS-DOS and OS/2 FAT
    case 7: // Macintosh
    case 11: // NTFS
    case 14: // VFAT
        return true;
    default:
        return false;
    }
}

DWORD ZipItemAttributes(DWORD dwVersionMadeBy, DWORD dwExternalAttributes)
{
    if (IsWindowsAttributeHost(dwVersionMadeBy))
        return dwExternalAttributes
            & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY
                | FILE_ATTRIBUTE_ARCHIVE);

    DWORD dwAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if ((dwExternalAttributes & 0x40000000) != 0) // S_IFDIR
        dwAttributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((dwExternalAttributes & 0x00800000) == 0) // S_IWUSR
        dwAttributes |= FILE_ATTRIBUTE_READONLY;
    return dwAttributes;
}

static bool IsSeparator(WCHAR ch)
{
    return ch == L'\\' || ch == L'/';
}

const WCHAR* SanitizeZipItemName(const WCHAR* pszName)
{
    static const WCHAR* const s_rgDotDot[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    const WCHAR* psz = pszName;
    for (;;) {
        if (psz[0] != L'\0' && psz[1] == L':') {
            psz += 2;
            continue;
        }
        if (IsSeparator(psz[0])) {
            psz += 1;
            continue;
        }
        if (psz[0] == L'.' && psz[1] == L'.' && IsSeparator(psz[2])) {
            psz += 3;
            continue;
        }
        bool bCut = false;
        for (const WCHAR* pszDotDot : s_rgDotDot) {
            const WCHAR* pszFound = wcsstr(psz, pszDotDot);
            if (pszFound != nullptr) {
                psz = pszFound + 4;
                bCut = true;
                break;
            }
        }
        if (!bCut)
            return psz;
    }
}

size_t ZipItemFolderLength(const WCHAR* pszName)
{
    size_t cch = 0;
    for (size_t i = 0; pszName[i] != L'\0'; ++i) {
        if (IsSeparator(pszName[i]))
            cch = i + 1;
    }
    return cch;
}

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

static DWORD ReadLe16(const BYTE* p)
{
    return p[0] | (p[1] << 8);
}

static DWORD ReadLe32(const BYTE* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}

bool FindExtendedTimes(const BYTE* pExtra, size_t cbExtra, ZipExtendedTimes& times)
{
    times = ZipExtendedTimes {};
    size_t nPos = 0;
    while (cbExtra - nPos >= 4) {
        DWORD dwTag = ReadLe16(pExtra + nPos);
        size_t cbBlock = ReadLe16(pExtra + nPos + 2);
        const BYTE* pBlock = pExtra + nPos + 4;
        if (cbBlock > cbExtra - nPos - 4)
            return false; // a block that runs past the field: nothing after it can be trusted
        if (dwTag == 0x5455) { // "UT"
            if (cbBlock < 1)
                return true;
            BYTE bFlags = pBlock[0];
            size_t nAt = 1;
            bool* rgbHas[] = {&times.bModified, &times.bAccessed, &times.bCreated};
            DWORD* rgdw[] = {&times.dwModified, &times.dwAccessed, &times.dwCreated};
            for (int i = 0; i < 3; ++i) {
                if ((bFlags & (1 << i)) == 0)
                    continue;
                if (cbBlock - nAt < 4)
                    break;
                *rgbHas[i] = true;
                *rgdw[i] = ReadLe32(pBlock + nAt);
                nAt += 4;
            }
            return true;
        }
        nPos += 4 + cbBlock;
    }
    return false;
}
