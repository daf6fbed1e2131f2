#pragma once
#include <windows.h>

#include "core/rules/ServedLists.h"

// One manifest line.
struct PackageEntry {
    WCHAR szName[MAX_PACKAGE_NAME_UNITS + 1]; // package file name
    int nValue; // second field; read by no step
    int nKind; // installed only when the machine's kinds hold it
};
