#include "Platform.h"
#include "Zip.h"

#include <gtest/gtest.h>

using namespace publish;

namespace {

const int64_t kModified = 1765200000; // 2025-12-08 13:20:00 UTC

std::string Sample(size_t size)
{
    std::string data;
    for (size_t i = 0; i < size; ++i)
        data += static_cast<char>((i * 7919) % 251);
    return data;
}

// The modification time the installer reads from an item's extra field.
bool FindExtendedTimestamp(const std::string& extra, int64_t& modified)
{
    ZipExtendedTimes times;
    if (!FindExtendedTimes(reinterpret_cast<const uint8_t*>(extra.data()), extra.size(), times) || !times.bModified)
        return false;
    modified = times.nModified;
    return true;
}

} // namespace

TEST(Zip, ItemsCarryWhatTheInstallerReads)
{
    ZipWriter writer;
    std::string error, archive;
    const std::string big = Sample(200000);
    ASSERT_TRUE(writer.Add("docs/\xCB\xB5\xC3\xF7.txt", "hello", kModified, ZIP_ATTRIBUTE_ARCHIVE, error)) << error;
    ASSERT_TRUE(writer.Add("bin/big.dat", big, kModified + 1, ZIP_ATTRIBUTE_ARCHIVE | ZIP_ATTRIBUTE_HIDDEN, error))
        << error;
    ASSERT_TRUE(writer.Finish(archive, error)) << error;

    std::vector<ZipItem> items;
    ASSERT_TRUE(ReadZip(archive, items, error)) << error;
    ASSERT_EQ(items.size(), 2u);
    const ZipItem& text = items[0];
    EXPECT_EQ(text.storedName, "docs/\xCB\xB5\xC3\xF7.txt");
    EXPECT_EQ(text.versionMadeBy >> 8, 0) << "host must be MS-DOS for Windows attribute bits";
    EXPECT_EQ(text.externalAttributes, ZIP_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(text.method, 8);
    EXPECT_EQ(text.headerCrc, Crc32("hello"));
    EXPECT_EQ(text.dataError, "");
    int64_t stamp = 0;
    ASSERT_TRUE(FindExtendedTimestamp(text.localExtra, stamp));
    EXPECT_EQ(stamp, kModified);
    EXPECT_EQ(text.dosDateTime, DosDateTime(kModified));

    const ZipItem& binary = items[1];
    EXPECT_EQ(binary.externalAttributes, ZIP_ATTRIBUTE_ARCHIVE | ZIP_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(binary.uncompressedSize, big.size());
    EXPECT_LT(binary.compressedSize, big.size());
    EXPECT_EQ(binary.dataCrc, Crc32(big));
    ASSERT_TRUE(FindExtendedTimestamp(binary.localExtra, stamp));
    EXPECT_EQ(stamp, kModified + 1);
}

TEST(Zip, DosTimeIsTheLocalCalendarInTwoSecondSteps)
{
    std::tm local {};
    ASSERT_TRUE(ToLocalCalendar(kModified + 1, local));
    const uint32_t dos = DosDateTime(kModified + 1);
    EXPECT_EQ(static_cast<int>(dos >> 25) + 1980, local.tm_year + 1900);
    EXPECT_EQ(static_cast<int>((dos >> 21) & 15), local.tm_mon + 1);
    EXPECT_EQ(static_cast<int>((dos >> 16) & 31), local.tm_mday);
    EXPECT_EQ(static_cast<int>((dos >> 11) & 31), local.tm_hour);
    EXPECT_EQ(static_cast<int>((dos >> 5) & 63), local.tm_min);
    EXPECT_EQ(static_cast<int>(dos & 31) * 2, local.tm_sec / 2 * 2);
}

TEST(Zip, TimesOutsideWhatBothFieldsHoldAreClamped)
{
    int64_t stamp = 0;
    ASSERT_TRUE(FindExtendedTimestamp(ExtendedTimestamp(0), stamp));
    EXPECT_EQ(DosDateTime(0) >> 25, 0u) << "1980";
    EXPECT_GE(stamp, 315532800);
    ASSERT_TRUE(FindExtendedTimestamp(ExtendedTimestamp(int64_t(1) << 40), stamp));
    EXPECT_EQ(stamp, 0x7FFFFFFF);
}

TEST(Zip, ExtendedTimestampIsFoundAmongOtherBlocks)
{
    const std::string other("\x0A\x00\x04\x00"
                            "abcd",
        8);
    int64_t stamp = 0;
    ASSERT_TRUE(FindExtendedTimestamp(other + ExtendedTimestamp(kModified), stamp));
    EXPECT_EQ(stamp, kModified);
    EXPECT_FALSE(FindExtendedTimestamp(other, stamp));
}

TEST(Zip, DamageIsReported)
{
    ZipWriter writer;
    std::string error, archive;
    ASSERT_TRUE(writer.Add("a.txt", Sample(5000), kModified, ZIP_ATTRIBUTE_ARCHIVE, error));
    ASSERT_TRUE(writer.Finish(archive, error));
    std::vector<ZipItem> items;
    EXPECT_FALSE(ReadZip("not a zip at all", items, error));

    std::string flipped = archive;
    flipped[60] = static_cast<char>(flipped[60] ^ 0x55);
    ASSERT_TRUE(ReadZip(flipped, items, error)) << error;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].dataError, "");
}
