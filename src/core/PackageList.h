#pragma once
#include <string>
#include <vector>

#include "core/PackageEntry.h"

// Turns the manifest text into package entries, in line order (core/rules/ServedLists.h: lines end at
// CR, a line is an entry only when exactly three non-empty ";" fields remain: name, value, kind). A name
// that does not fit PackageEntry::szName refuses its line with an error record. Replaces the content of
// vecPackages.
int ParsePackageLines(const std::wstring& strText, std::vector<PackageEntry>& vecPackages);

// Reads a field as the platform's atoi does after converting it to the ANSI code page: leading white
// space, an optional sign, decimal digits up to the first other character (0 without digits). Values
// beyond the int range saturate.
int ReadAnsiDecimal(const std::wstring& strField);
