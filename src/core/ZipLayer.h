#pragma once
#include <windows.h>

// A thin extraction layer over minizip: open an archive, fix the target folder, query items one at
// a time and extract an item to a file under the target folder. Results are 0 for success.

struct ZipArchive;
using ZipHandle = ZipArchive*;

struct ZipItemInfo {
    int nIndex; // the item's index; for a query of index -1 the number of items
    WCHAR szName[MAX_PATH]; // path inside the archive, sanitised: relative, never above the target
    DWORD dwAttributes; // FILE_ATTRIBUTE_READONLY, _HIDDEN, _SYSTEM, _DIRECTORY, _ARCHIVE
    FILETIME ftAccess; // UTC; zero when the archive gives no valid time
    FILETIME ftCreation;
    FILETIME ftModified;
    int nCompressedSize; // sizes beyond the int range read as INT_MAX
    int nUncompressedSize;
};

enum : DWORD {
    ZR_OK = 0,
    ZR_ARGUMENTS = 1, // null handle or name, index out of range
    ZR_CORRUPT = 2, // the archive's records cannot be read
    ZR_NAME = 3, // the name or the path it gives is too long or leaves the target folder
    ZR_CREATE = 4, // the output file or a folder on its way cannot be made
    ZR_WRITE = 5,
    ZR_DATA = 6, // decompression error or data that ends before the item's size
    ZR_UNSUPPORTED = 7, // encrypted item or compression method other than stored and deflated
    ZR_MEMORY = 8,
    ZR_DISK_FULL = 9, // a write or a creation failed for want of space on the drive
};

// Opens an existing archive for reading, shared for reading only. Passwords are not supported: a
// non-null one is refused. Null when the file cannot be opened or is not a readable zip archive.
ZipHandle OpenZip(const WCHAR* pszArchive, const char* pszPassword);
// The same for an archive held in memory, read where it lies: the block must outlive the handle.
ZipHandle OpenZipBlock(const BYTE* pbArchive, size_t cbArchive);

// Takes the folder (at most 259 characters, else refused and nothing can be extracted) and appends
// "/" when it ends in no separator.
DWORD SetZipTargetFolder(ZipHandle hZip, const WCHAR* pszFolder);

// Fills info for item nIndex, or the item count for -1. A failed query leaves an empty name.
DWORD QueryZipItem(ZipHandle hZip, int nIndex, ZipItemInfo* pInfo);

// Extracts item nIndex to target folder + pszName, creating the folders on the way.
DWORD UnzipItem(ZipHandle hZip, int nIndex, const WCHAR* pszName);

DWORD CloseZipArchive(ZipHandle hZip);
