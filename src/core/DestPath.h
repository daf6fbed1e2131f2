#pragma once
#include <windows.h>

// Picks the install drive from a logical-drive list (zero-terminated roots of 4 units each, as
// GetLogicalDriveStringsW gives them, cchList units long): the first root equal to "C:\" ignoring
// case, else the first root. Copies the chosen root as listed into pszRoot and reports whether it
// was drive C:. False when the list holds no root.
bool ChooseDriveRoot(const WCHAR* pszList, DWORD cchList, WCHAR* pszRoot, size_t cchRoot, bool* pbDriveC);
