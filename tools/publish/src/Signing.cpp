#include "Signing.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace publish {

std::string LowerHex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

bool ParseLowerHex(const std::string& hex, size_t bytes, std::string& out)
{
    if (hex.size() != 2 * bytes || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return true;
}

bool ParsePublicKey(const std::string& hex, std::string& point, std::string& error)
{
    if (!ParseLowerHex(hex, kPointBytes, point) || point[0] != 4) {
        error = "a public key is 04 and 128 lowercase hex digits (as keygen prints it)";
        return false;
    }
    return true;
}

std::string ReleaseListFile(const ReleaseList& list)
{
    std::vector<ListedFile> lines = list.files;
    const std::string zeros(kDigestBytes, '\0');
    if (list.stamp.serial != 0)
        lines.push_back({kSerialName, zeros, list.stamp.serial});
    if (list.stamp.expiring)
        lines.push_back({kExpiresName, zeros, static_cast<uint64_t>(list.stamp.expires)});
    std::sort(lines.begin(), lines.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    std::string text;
    for (const ListedFile& line : lines)
        text += LowerHex(line.digest) + "  " + std::to_string(line.size) + "  " + line.name + "\n";
    return text;
}

bool ParseReleaseList(const std::string& text, ReleaseList& list, std::string& error)
{
    list = ReleaseList();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || text.empty() || text.back() != '\n') {
        error = "release.sha256 has a byte-order mark, no line, or no LF at its end";
        return false;
    }
    std::string previous;
    size_t number = 0;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const std::string where = "release.sha256 line " + std::to_string(++number) + ": ";
        const size_t gap = line.find("  ", 66);
        ListedFile file;
        if (line.size() < 66 || line.compare(64, 2, "  ") != 0 || !ParseLowerHex(line.substr(0, 64), 32, file.digest)
            || gap == std::string::npos || gap == 66 || gap > 66 + 18
            || line.find_first_not_of("0123456789", 66) != gap) {
            error = where + "not \"<64 lowercase hex>  <size>  <name>\"";
            return false;
        }
        file.size = std::stoull(line.substr(66, gap - 66));
        file.name = line.substr(gap + 2);
        if (file.name.empty() || std::any_of(file.name.begin(), file.name.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
            })) {
            error = where + "no name, or a control character in it";
            return false;
        }
        if (!(previous < file.name)) {
            error = where + "names are not in increasing byte order";
            return false;
        }
        previous = file.name;
        if (file.name[0] != kReservedPrefix) {
            list.files.push_back(file);
        } else if (file.digest != std::string(kDigestBytes, '\0')) {
            error = where + file.name + " has a digest other than 64 zeros";
            return false;
        } else if (file.name == kSerialName && file.size == 0) {
            error = where + "the serial is 0; serials start at 1";
            return false;
        } else if (file.name == kSerialName) {
            list.stamp.serial = file.size;
        } else if (file.name == kExpiresName) {
            list.stamp.expiring = true;
            list.stamp.expires = static_cast<int64_t>(file.size);
        }
    }
    return true;
}

std::string DescribeStamp(const ReleaseStamp& stamp)
{
    return (stamp.serial == 0 ? std::string("no serial") : "serial " + std::to_string(stamp.serial)) + ", "
        + (stamp.expiring ? "expires " + UtcTimeText(stamp.expires) : std::string("no expiry"));
}

std::string UtcTimeText(int64_t time)
{
    // Days since 1970 to the proleptic Gregorian calendar, counted in 400-year eras from 0000-03-01 so
    // that the leap day ends each year.
    const int64_t days = time / 86400 - (time % 86400 < 0 ? 1 : 0);
    const int64_t seconds = time - days * 86400;
    const int64_t shiftedDays = days + 719468;
    const int64_t era = (shiftedDays >= 0 ? shiftedDays : shiftedDays - 146096) / 146097;
    const int64_t dayOfEra = shiftedDays - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[160]; // room for six fields as wide as an int64_t can print
    std::snprintf(text, sizeof text,
        "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64 " UTC", year, month, day,
        seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

} // namespace publish
