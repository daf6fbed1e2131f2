#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Zip archives in memory, written and read through minizip.
namespace publish {

// Host "MS-DOS" in the high byte, so that the installer takes the low attribute bits as Windows bits.
constexpr uint16_t kVersionMadeBy = 20;

class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // `storedName` is the item name exactly as it goes into the archive.
    bool Add(const std::string& storedName, const std::string& data, int64_t modified, uint32_t attributes,
        std::string& error);
    bool Finish(std::string& archive, std::string& error);

private:
    struct Impl;
    Impl* m_impl;
};

struct ZipItem {
    std::string storedName;
    uint16_t versionMadeBy = 0;
    uint32_t externalAttributes = 0;
    uint32_t dosDateTime = 0;
    int method = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t headerCrc = 0;
    std::string localExtra;
    // Result of decompressing the item: empty when its data read back whole with the header's CRC.
    std::string dataError;
    uint32_t dataCrc = 0;
};

bool ReadZip(const std::string& archive, std::vector<ZipItem>& items, std::string& error);

// Modification time in the extra field of type "UT", which the installer gives the extracted file.
std::string ExtendedTimestamp(int64_t modified);
uint32_t DosDateTime(int64_t modified);
uint32_t Crc32(const std::string& data);

} // namespace publish
