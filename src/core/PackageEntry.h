#pragma once
#include <windows.h>

// One manifest line.
struct PackageEntry {
    WCHAR szName[32]; // package file name, at most 31 characters
    int nValue; // second field; read by no step
    int nKind; // installed only when the machine's kinds hold it
};
