#pragma once
#include <cstddef>
#include <cstdint>

// What a zip item carries and how the installer's extraction reads it: its name, its attributes and its
// extended timestamp. The publisher writes items by the same rules and checks a release by them.

// The Windows attribute bits a zip item may carry (FILE_ATTRIBUTE_*).
const uint32_t ZIP_ATTRIBUTE_READONLY = 0x01;
const uint32_t ZIP_ATTRIBUTE_HIDDEN = 0x02;
const uint32_t ZIP_ATTRIBUTE_SYSTEM = 0x04;
const uint32_t ZIP_ATTRIBUTE_DIRECTORY = 0x10;
const uint32_t ZIP_ATTRIBUTE_ARCHIVE = 0x20;

// Host systems (high byte of version-made-by) whose external attributes carry Windows bits.
bool IsWindowsAttributeHost(uint32_t nVersionMadeBy);

// Windows attribute bits of an item: the five DOS bits for DOS-like hosts, otherwise derived from the
// Unix mode in the high 16 bits (directory, read-only when the owner may not write, archive).
uint32_t ZipItemAttributes(uint32_t nVersionMadeBy, uint32_t nExternalAttributes);

// The tail of an item name that stays inside the target folder: drive prefixes, leading separators
// and ".." segments are dropped until none is left. Returns a pointer into pszName.
const char16_t* SanitizeZipItemName(const char16_t* pszName);

// Length of the folder part of a name: up to and including its last "\" or "/" (0 when none).
size_t ZipItemFolderLength(const char16_t* pszName);

// The times of the first extended-timestamp block ("UT") of an extra field, Unix seconds.
struct ZipExtendedTimes {
    bool bModified = false;
    bool bAccessed = false;
    bool bCreated = false;
    uint32_t nModified = 0;
    uint32_t nAccessed = 0;
    uint32_t nCreated = 0;
};

// Walks the extra field's blocks and reads the first "UT" block. A time counts only when its flag is set
// and its four bytes lie inside the block. False when there is no such block.
bool FindExtendedTimes(const uint8_t* pExtra, size_t cbExtra, ZipExtendedTimes& times);
