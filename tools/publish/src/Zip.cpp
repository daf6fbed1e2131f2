#include "Zip.h"

#include "Platform.h"

#include <zip.h>
#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace publish {

namespace {

// minizip's file functions over a string in memory; the "file name" it passes around is unused.
struct MemoryFile {
    std::string* bytes;
    uint64_t position;
};

voidpf ZCALLBACK MemoryOpen(voidpf opaque, const void*, int)
{
    return new MemoryFile {static_cast<std::string*>(opaque), 0};
}

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buf, uLong size)
{
    auto* file = static_cast<MemoryFile*>(stream);
    if (file->position >= file->bytes->size())
        return 0;
    const uLong n = static_cast<uLong>(std::min<uint64_t>(size, file->bytes->size() - file->position));
    std::memcpy(buf, file->bytes->data() + file->position, n);
    file->position += n;
    return n;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf stream, const void* buf, uLong size)
{
    auto* file = static_cast<MemoryFile*>(stream);
    if (file->bytes->size() < file->position + size)
        file->bytes->resize(file->position + size);
    std::memcpy(&(*file->bytes)[file->position], buf, size);
    file->position += size;
    return size;
}

ZPOS64_T ZCALLBACK MemoryTell(voidpf, voidpf stream)
{
    return static_cast<MemoryFile*>(stream)->position;
}

long ZCALLBACK MemorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* file = static_cast<MemoryFile*>(stream);
    uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = file->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = file->bytes->size();
    if (base + offset > file->bytes->size())
        return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf stream)
{
    delete static_cast<MemoryFile*>(stream);
    return 0;
}

int ZCALLBACK MemoryError(voidpf, voidpf)
{
    return 0;
}

zlib_filefunc64_def MemoryFunctions(std::string* bytes)
{
    zlib_filefunc64_def functions {};
    functions.zopen64_file = MemoryOpen;
    functions.zread_file = MemoryRead;
    functions.zwrite_file = MemoryWrite;
    functions.ztell64_file = MemoryTell;
    functions.zseek64_file = MemorySeek;
    functions.zclose_file = MemoryClose;
    functions.zerror_file = MemoryError;
    functions.opaque = bytes;
    return functions;
}

void PutLittleEndian(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// MS-DOS times cover 1980 to 2107 and the extended timestamp is a signed 32-bit count.
constexpr int64_t kEarliest = 315619200; // 1980-01-02 UTC: still 1980 in every time zone
constexpr int64_t kLatest = 0x7FFFFFFF;

int64_t Representable(int64_t modified)
{
    return std::min(std::max(modified, kEarliest), kLatest);
}

} // namespace

std::string ExtendedTimestamp(int64_t modified)
{
    std::string block = "UT";
    PutLittleEndian(block, 5, 2);
    block += '\x01';
    PutLittleEndian(block, static_cast<uint32_t>(Representable(modified)), 4);
    return block;
}

uint32_t DosDateTime(int64_t modified)
{
    std::tm local {};
    if (!ToLocalCalendar(Representable(modified), local))
        return (1U << 21) | (1U << 16);
    const uint32_t year = static_cast<uint32_t>(std::max(local.tm_year + 1900, 1980) - 1980);
    return (year << 25) | (static_cast<uint32_t>(local.tm_mon + 1) << 21) | (static_cast<uint32_t>(local.tm_mday) << 16)
        | (static_cast<uint32_t>(local.tm_hour) << 11) | (static_cast<uint32_t>(local.tm_min) << 5)
        | (static_cast<uint32_t>(local.tm_sec) / 2);
}

uint32_t Crc32(const std::string& data)
{
    uLong crc = crc32(0, nullptr, 0);
    for (size_t done = 0; done < data.size();) {
        const auto part = static_cast<uInt>(std::min<size_t>(data.size() - done, 1 << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data() + done), part);
        done += part;
    }
    return static_cast<uint32_t>(crc);
}

struct ZipWriter::Impl {
    std::string bytes;
    zipFile zip = nullptr;
};

ZipWriter::ZipWriter()
    : m_impl(new Impl)
{
    zlib_filefunc64_def functions = MemoryFunctions(&m_impl->bytes);
    m_impl->zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &functions);
}

ZipWriter::~ZipWriter()
{
    if (m_impl->zip)
        zipClose(m_impl->zip, nullptr);
    delete m_impl;
}

bool ZipWriter::Add(
    const std::string& storedName, const std::string& data, int64_t modified, uint32_t attributes, std::string& error)
{
    if (!m_impl->zip) {
        error = "cannot start a zip archive";
        return false;
    }
    zip_fileinfo info {};
    info.dosDate = DosDateTime(modified);
    info.external_fa = attributes;
    const std::string extra = ExtendedTimestamp(modified);
    // No UTF-8 flag: the installer reads names in code page 936 whatever the flag says.
    int rc = zipOpenNewFileInZip4_64(m_impl->zip, storedName.c_str(), &info, extra.data(),
        static_cast<uInt>(extra.size()), extra.data(), static_cast<uInt>(extra.size()), nullptr, Z_DEFLATED,
        Z_BEST_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, kVersionMadeBy, 0, 0);
    for (size_t done = 0; rc == ZIP_OK && done < data.size();) {
        const auto part = static_cast<unsigned>(std::min<size_t>(data.size() - done, 1 << 20));
        rc = zipWriteInFileInZip(m_impl->zip, data.data() + done, part);
        done += part;
    }
    if (rc == ZIP_OK)
        rc = zipCloseFileInZip(m_impl->zip);
    if (rc != ZIP_OK) {
        error = "zip error " + std::to_string(rc);
        return false;
    }
    return true;
}

bool ZipWriter::Finish(std::string& archive, std::string& error)
{
    const int rc = m_impl->zip ? zipClose(m_impl->zip, nullptr) : ZIP_ERRNO;
    m_impl->zip = nullptr;
    if (rc != ZIP_OK) {
        error = "cannot finish the zip archive (" + std::to_string(rc) + ")";
        return false;
    }
    archive.swap(m_impl->bytes);
    return true;
}

namespace {

void ReadItemData(unzFile zip, ZipItem& item)
{
    std::string extra(65535, '\0');
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        item.dataError = "cannot open the item's data";
        return;
    }
    const int extraSize = unzGetLocalExtrafield(zip, &extra[0], static_cast<unsigned>(extra.size()));
    item.localExtra = extra.substr(0, extraSize > 0 ? extraSize : 0);
    uLong crc = crc32(0, nullptr, 0);
    char chunk[16384];
    int got;
    uint64_t total = 0;
    while ((got = unzReadCurrentFile(zip, chunk, sizeof chunk)) > 0) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk), static_cast<uInt>(got));
        total += static_cast<uint64_t>(got);
    }
    const int closed = unzCloseCurrentFile(zip);
    item.dataCrc = static_cast<uint32_t>(crc);
    if (got < 0)
        item.dataError = "its data does not decompress (" + std::to_string(got) + ")";
    else if (closed == UNZ_CRCERROR || item.dataCrc != item.headerCrc)
        item.dataError = "its data does not match its CRC";
    else if (total != item.uncompressedSize)
        item.dataError
            = "its data has " + std::to_string(total) + " bytes, not " + std::to_string(item.uncompressedSize);
}

} // namespace

bool ReadZip(const std::string& archive, std::vector<ZipItem>& items, std::string& error)
{
    std::string bytes = archive;
    zlib_filefunc64_def functions = MemoryFunctions(&bytes);
    unzFile zip = unzOpen2_64("memory", &functions);
    if (!zip) {
        error = "not a readable zip archive";
        return false;
    }
    items.clear();
    unz_global_info64 global;
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK || global.number_entry == 0) {
        unzClose(zip);
        return true;
    }
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        unz_file_info64 info;
        char name[65536];
        rc = unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK)
            break;
        ZipItem item;
        item.storedName.assign(name, std::min<size_t>(info.size_filename, sizeof name - 1));
        item.versionMadeBy = static_cast<uint16_t>(info.version);
        item.externalAttributes = static_cast<uint32_t>(info.external_fa);
        item.dosDateTime = static_cast<uint32_t>(info.dosDate);
        item.method = static_cast<int>(info.compression_method);
        item.compressedSize = info.compressed_size;
        item.uncompressedSize = info.uncompressed_size;
        item.headerCrc = static_cast<uint32_t>(info.crc);
        ReadItemData(zip, item);
        items.push_back(item);
        rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        error = "its central directory cannot be read (" + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

} // namespace publish
