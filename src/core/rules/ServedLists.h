#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The two lists the download server serves as text: the manifest orbsetup.txt and the CRC list
// filecrc.txt, split as the installer splits them (lines at CR, fields at ";", empty ones dropped).

// A manifest file name holds at most this many UTF-16 units: the installer keeps it in 32.
const size_t MAX_PACKAGE_NAME_UNITS = 31;

// One manifest line of exactly three fields, each read as its program reads numbers.
struct ManifestLine {
    std::u16string strName;
    std::u16string strValue;
    std::u16string strKind;
};

// The lines that are entries, in order; the others (not empty) go to *pvecIgnored when given.
std::vector<ManifestLine> SplitManifest(
    const std::u16string& strText, std::vector<std::u16string>* pvecIgnored = nullptr);

// One CRC list line of exactly two fields: a path relative to the install folder and its CRC-32, read
// by ReadUnsignedDecimal; 0 means: not compared.
struct CrcListLine {
    std::u16string strName;
    uint32_t nCrc;
};

std::vector<CrcListLine> ParseCrcList(
    const std::u16string& strText, std::vector<std::u16string>* pvecIgnored = nullptr);
