#pragma once
#include <windows.h>

#include <cstdarg>
#include <string>

// Wide formatting with the platform's printf rules: in a wide format "%s" takes a wide string.

// Formats into a fixed buffer. Returns false when the result does not fit (or the format is bad);
// the buffer then holds the part that fitted, always zero-terminated.
bool FormatV(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszFormat, va_list args);
bool Format(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszFormat, ...);

// Formats into a string of whatever length the result needs.
std::wstring FormatStringV(const WCHAR* pszFormat, va_list args);
std::wstring FormatString(const WCHAR* pszFormat, ...);

// Copies a string into a fixed buffer; false when it had to be cut.
bool CopyString(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszSource);
