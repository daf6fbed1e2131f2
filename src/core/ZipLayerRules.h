#pragma once
#include <windows.h>

#include <cstddef>

// Rules of the zip layer that need no archive and no file: item names, attributes and times.

// Host systems (high byte of version-made-by) whose external attributes carry Windows bits.
bool IsWindowsAttributeHost(DWORD dwVersionMadeBy);

// Windows attribute bits of an item: the five DOS bits for DOS-like hosts, otherwise derived from
// the Unix mode in the high 16 bits (directory, read-only when the owner may not write, archive).
DWORD ZipItemAttributes(DWORD dwVersionMadeBy, DWORD dwExternalAttributes);

// The tail of an item name that stays inside the target folder: drive prefixes, leading
// separators and ".." segments are dropped until none is left. Returns a pointer into pszName.
const WCHAR* SanitizeZipItemName(const WCHAR* pszName);

// Length of the folder part of a name: up to and including its last "\" or "/" (0 when none).
size_t ZipItemFolderLength(const WCHAR* pszName);

// MS-DOS date and time, read as local time, as a UTC FILETIME. False (and a zero time) when the
// date or time is not a valid one.
bool DosDateTimeToUtc(WORD wDosDate, WORD wDosTime, FILETIME* pft);

// Seconds since 1970-01-01 UTC as a FILETIME.
FILETIME UnixTimeToFileTime(DWORD dwUnixTime);

// The times of the first extended-timestamp block ("UT") of an extra field.
struct ZipExtendedTimes {
    bool bModified = false;
    bool bAccessed = false;
    bool bCreated = false;
    DWORD dwModified = 0;
    DWORD dwAccessed = 0;
    DWORD dwCreated = 0;
};

// Walks the extra field's blocks and reads the first "UT" block. A time counts only when its flag is
// set and its four bytes lie inside the block. False when there is no such block.
bool FindExtendedTimes(const BYTE* pExtra, size_t cbExtra, ZipExtendedTimes& times);
