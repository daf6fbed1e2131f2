#pragma once
#include <windows.h>

#include <string>

// Text files on the download server are UTF-16LE behind a two-byte byte-order mark. The text runs
// from the third byte to the first zero unit or the end of the bytes; an odd last byte forms a unit
// whose high byte is zero. The mark itself is not examined.
std::wstring ServedText(const BYTE* pBytes, int nLength);

// Removes CR and LF characters from both ends of a line.
std::wstring TrimLineEnds(const std::wstring& strLine);

// Reads a field as the platform's atoi does after converting it to the ANSI code page: leading
// white space, an optional sign, decimal digits up to the first other character (0 without digits).
// Values beyond the int range saturate.
int ReadAnsiDecimal(const std::wstring& strField);
