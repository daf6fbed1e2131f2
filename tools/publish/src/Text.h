#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Text as the installer reads it: UTF-16 files from the server, split the way it splits them.
namespace publish {

bool Utf8ToUtf16(const std::string& utf8, std::u16string& utf16);
std::string Utf16ToUtf8(const std::u16string& utf16);

// Byte-order mark, then each line followed by CR LF, all UTF-16LE.
std::string EncodeServedText(const std::vector<std::u16string>& lines);
// The installer skips the first two bytes unseen and reads up to the first zero unit or the end; an odd
// last byte is a unit of its own.
std::u16string DecodeServedText(const std::string& bytes);

// Pieces between separators, empty pieces dropped.
std::vector<std::u16string> SplitString(const std::u16string& text, char16_t separator);
// Lines at CR, with CR and LF taken off both ends, empty lines dropped.
std::vector<std::u16string> SplitLines(const std::u16string& text);

// Decimal reading like the C runtime: blanks, a sign, digits up to the first other character.
int32_t ReadSignedDecimal(const std::u16string& field);
// As an unsigned 32-bit number: "-" negates modulo 2^32, too large a value gives 4294967295.
uint32_t ReadUnsignedDecimal(const std::u16string& field);

struct ManifestEntry {
    std::u16string name;
    int32_t value = 0;
    int32_t kind = 0;
};
// Lines that are not exactly three fields are ignored and reported in `ignored`.
std::vector<ManifestEntry> ParseManifest(const std::u16string& text, std::vector<std::u16string>& ignored);

struct CrcListEntry {
    std::u16string name;
    uint32_t crc = 0;
};
std::vector<CrcListEntry> ParseCrcList(const std::u16string& text, std::vector<std::u16string>& ignored);

// The key under which Windows' case-insensitive file system finds a path ("/" and "\" alike).
std::u16string PathKey(const std::u16string& path);

} // namespace publish
