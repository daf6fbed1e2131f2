#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Builds zip archives byte by byte, so that tests control every field minizip reads, including
// the damaged ones.

struct ZipEntry {
    std::string strName; // stored bytes, in whatever code page the test wants
    std::string strData; // uncompressed content
    WORD wMethod = 8; // 0 stored, 8 deflated
    WORD wMadeBy = 0x0014; // host 0 (MS-DOS), version 2.0
    DWORD dwExternal = FILE_ATTRIBUTE_ARCHIVE;
    WORD wFlags = 0;
    WORD wDosDate = ((2021 - 1980) << 9) | (3 << 5) | 14; // 2021-03-14
    WORD wDosTime = (15 << 11) | (9 << 5) | (26 / 2); // 15:09:26
    std::string strLocalExtra;
    std::string strCentralExtra;
    // Overrides for damaged or hostile items.
    std::optional<std::string> strCompressed; // replaces the compressed data
    std::optional<DWORD> dwCrc;
    std::optional<DWORD> dwCompressedSize;
    std::optional<DWORD> dwUncompressedSize;
};

std::string DeflateRaw(const std::string& strData);
std::string BuildZip(const std::vector<ZipEntry>& vecEntries);

// An extended-timestamp extra block: flags, then the times whose bits are set.
std::string UtBlock(BYTE bFlags, const std::vector<DWORD>& vecTimes);

ZipEntry StoredEntry(const std::string& strName, const std::string& strData);
ZipEntry DeflatedEntry(const std::string& strName, const std::string& strData);
// An item made on Unix with the given mode (for instance 0100644 or 040755).
ZipEntry UnixEntry(const std::string& strName, const std::string& strData, DWORD dwMode);
