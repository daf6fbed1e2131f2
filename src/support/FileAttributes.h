#pragma once
#include <windows.h>

// Clears the read-only attribute of a file or folder (dwAttributes as listed for it), keeping its
// other attributes, so that it can be deleted or replaced. A link is left alone: setting an attribute
// on it may reach what it points at. True when the entry is no longer read-only.
bool ClearReadOnly(const WCHAR* pszPath, DWORD dwAttributes);
// What to set instead of dwAttributes to clear read-only: the others that may be set, and
// FILE_ATTRIBUTE_NORMAL when none of them is left.
DWORD AttributesWithoutReadOnly(DWORD dwAttributes);
