#include "ZipBuilder.h"

#include <zlib.h>

namespace {

void Put16(std::string& str, DWORD dw)
{
    str.push_back(static_cast<char>(dw & 0xFF));
    str.push_back(static_cast<char>((dw >> 8) & 0xFF));
}

void Put32(std::string& str, DWORD dw)
{
    Put16(str, dw & 0xFFFF);
    Put16(str, dw >> 16);
}

} // namespace

std::string DeflateRaw(const std::string& strData)
{
    z_stream stream = {};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string strOut(deflateBound(&stream, static_cast<uLong>(strData.size())) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(strData.data()));
    stream.avail_in = static_cast<uInt>(strData.size());
    stream.next_out = reinterpret_cast<Bytef*>(&strOut[0]);
    stream.avail_out = static_cast<uInt>(strOut.size());
    deflate(&stream, Z_FINISH);
    strOut.resize(stream.total_out);
    deflateEnd(&stream);
    return strOut;
}

std::string UtBlock(BYTE bFlags, const std::vector<DWORD>& vecTimes)
{
    std::string strBlock = "UT";
    Put16(strBlock, static_cast<DWORD>(1 + 4 * vecTimes.size()));
    strBlock.push_back(static_cast<char>(bFlags));
    for (DWORD dw : vecTimes)
        Put32(strBlock, dw);
    return strBlock;
}

std::string BuildZip(const std::vector<ZipEntry>& vecEntries)
{
    std::string strZip;
    std::string strCentral;
    for (const ZipEntry& entry : vecEntries) {
        std::string strCompressed = entry.strCompressed
            ? *entry.strCompressed
            : (entry.wMethod == 8 ? DeflateRaw(entry.strData) : entry.strData);
        DWORD dwCrc = entry.dwCrc
            ? *entry.dwCrc
            : crc32(0, reinterpret_cast<const Bytef*>(entry.strData.data()), static_cast<uInt>(entry.strData.size()));
        DWORD dwCompressed
            = entry.dwCompressedSize ? *entry.dwCompressedSize : static_cast<DWORD>(strCompressed.size());
        DWORD dwUncompressed
            = entry.dwUncompressedSize ? *entry.dwUncompressedSize : static_cast<DWORD>(entry.strData.size());
        DWORD dwOffset = static_cast<DWORD>(strZip.size());

        Put32(strZip, 0x04034b50);
        Put16(strZip, 20);
        Put16(strZip, entry.wFlags);
        Put16(strZip, entry.wMethod);
        Put16(strZip, entry.wDosTime);
        Put16(strZip, entry.wDosDate);
        Put32(strZip, dwCrc);
        Put32(strZip, dwCompressed);
        Put32(strZip, dwUncompressed);
        Put16(strZip, static_cast<DWORD>(entry.strName.size()));
        Put16(strZip, static_cast<DWORD>(entry.strLocalExtra.size()));
        strZip += entry.strName;
        strZip += entry.strLocalExtra;
        strZip += strCompressed;

        Put32(strCentral, 0x02014b50);
        Put16(strCentral, entry.wMadeBy);
        Put16(strCentral, 20);
        Put16(strCentral, entry.wFlags);
        Put16(strCentral, entry.wMethod);
        Put16(strCentral, entry.wDosTime);
        Put16(strCentral, entry.wDosDate);
        Put32(strCentral, dwCrc);
        Put32(strCentral, dwCompressed);
        Put32(strCentral, dwUncompressed);
        Put16(strCentral, static_cast<DWORD>(entry.strName.size()));
        Put16(strCentral, static_cast<DWORD>(entry.strCentralExtra.size()));
        Put16(strCentral, 0); // comment
        Put16(strCentral, 0); // disk
        Put16(strCentral, 0); // internal attributes
        Put32(strCentral, entry.dwExternal);
        Put32(strCentral, dwOffset);
        strCentral += entry.strName;
        strCentral += entry.strCentralExtra;
    }
    DWORD dwCentralOffset = static_cast<DWORD>(strZip.size());
    strZip += strCentral;
    Put32(strZip, 0x06054b50);
    Put16(strZip, 0);
    Put16(strZip, 0);
    Put16(strZip, static_cast<DWORD>(vecEntries.size()));
    Put16(strZip, static_cast<DWORD>(vecEntries.size()));
    Put32(strZip, static_cast<DWORD>(strCentral.size()));
    Put32(strZip, dwCentralOffset);
    Put16(strZip, 0);
    return strZip;
}

ZipEntry StoredEntry(const std::string& strName, const std::string& strData)
{
    ZipEntry entry;
    entry.strName = strName;
    entry.strData = strData;
    entry.wMethod = 0;
    return entry;
}

ZipEntry DeflatedEntry(const std::string& strName, const std::string& strData)
{
    ZipEntry entry;
    entry.strName = strName;
    entry.strData = strData;
    return entry;
}

ZipEntry UnixEntry(const std::string& strName, const std::string& strData, DWORD dwMode)
{
    ZipEntry entry = DeflatedEntry(strName, strData);
    entry.wMadeBy = 0x0314; // host 3 (Unix)
    entry.dwExternal = dwMode << 16;
    return entry;
}
