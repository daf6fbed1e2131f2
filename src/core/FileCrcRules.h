#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Rules of the CRC list filecrc.txt that need no download and no file.

// A CRC field as an unsigned 32-bit decimal: leading white space skipped, an optional sign ("-"
// negates modulo 2^32), digits up to the first other character. Values beyond 4294967295 give
// 4294967295; a field without digits gives 0.
DWORD ReadCrcNumber(const std::wstring& strField);

struct CrcListEntry {
    std::wstring strName; // relative to the install folder
    DWORD dwCrc; // 0 means: not compared
};

// The lines of the list text (CR-separated, CR and LF trimmed at both ends) that have exactly two
// non-empty ";" fields, in file order.
std::vector<CrcListEntry> ParseCrcList(const std::wstring& strText);
