#pragma once
#include <windows.h>

// Whether a font face is installed, as GDI's family enumeration sees it (letter case aside) and as
// the GDI+ installed-font collection sees it (exact name).
bool IsFontKnownToGdi(const WCHAR* pszFace);
bool IsFontKnownToGdiplus(const WCHAR* pszFace);
