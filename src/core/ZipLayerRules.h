#pragma once
#include <windows.h>

// Times of the zip layer as Windows keeps them; the rest of what an item carries is in
// core/rules/ZipItems.h.

// MS-DOS date and time, read as local time, as a UTC FILETIME. False (and a zero time) when the
// date or time is not a valid one.
bool DosDateTimeToUtc(WORD wDosDate, WORD wDosTime, FILETIME* pft);

// Seconds since 1970-01-01 UTC as a FILETIME.
FILETIME UnixTimeToFileTime(DWORD dwUnixTime);
