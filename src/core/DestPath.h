#pragma once
#include <windows.h>

// Picks the install drive from a logical-drive list (zero-terminated roots of 4 units each, as
// GetLogicalDriveStringsW gives them, cchList units long): the first root equal to "C:\" ignoring
// case, else the first root. Copies the chosen root as listed into pszRoot and reports whether it
// was drive C:. False when the list holds no root.
bool ChooseDriveRoot(const WCHAR* pszList, DWORD cchList, WCHAR* pszRoot, size_t cchRoot, bool* pbDriveC);

// The system's logical-drive list (GetLogicalDriveStringsW's signature), for the query below.
using DriveListQuery = DWORD(WINAPI*)(DWORD cchBuffer, LPWSTR pszBuffer);

// Asks query for the drive list into pszList (cchList units) until it holds a root, at most nTries
// times with dwPauseMs between. Returns the list's length, 0 when it stayed empty or did not fit;
// *pnAsked receives how many times it asked. Wine answers with an empty list for a moment when a
// program starts a new session, until its mount manager has made the drives known.
DWORD QueryDriveList(DriveListQuery query, WCHAR* pszList, DWORD cchList, int nTries, DWORD dwPauseMs, int* pnAsked);
