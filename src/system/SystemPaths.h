#pragma once
#include <windows.h>

// Helpers shared by the system-integration code: bounded path formatting and path comparison.

// Formats into a MAX_PATH buffer. A result that does not fit is logged with its origin (for example
// "[FindProcess]") and reported as false, so that the caller skips the step instead of using a cut path.
bool FormatPath(WCHAR (&szBuf)[MAX_PATH], const WCHAR* pszOrigin, const WCHAR* pszFormat, ...);

// Case-insensitive comparison with the file system's rules rather than the C library's locale.
bool EqualNoCase(const WCHAR* pszA, const WCHAR* pszB);
