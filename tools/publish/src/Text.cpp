#include "Text.h"

#include <algorithm>
#include <limits>

namespace publish {

bool Utf8ToUtf16(const std::string& utf8, std::u16string& utf16)
{
    utf16.clear();
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int extra = lead < 0x80 ? 0
            : (lead >> 5) == 0x6      ? 1
            : (lead >> 4) == 0xE      ? 2
            : (lead >> 3) == 0x1E     ? 3
                                      : -1;
        if (extra < 0 || i + extra >= utf8.size())
            return false;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            utf16.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            utf16.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            utf16.push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& utf16)
{
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t code = utf16[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string EncodeServedText(const std::vector<std::u16string>& lines)
{
    std::string out = "\xFF\xFE";
    for (const std::u16string& line : lines) {
        for (char16_t unit : line + u"\r\n") {
            out += static_cast<char>(unit & 0xFF);
            out += static_cast<char>(unit >> 8);
        }
    }
    return out;
}

std::u16string DecodeServedText(const std::string& bytes)
{
    std::u16string text;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const auto unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0)
            break;
        text += unit;
    }
    return text;
}

std::vector<std::u16string> SplitString(const std::u16string& text, char16_t separator)
{
    std::vector<std::u16string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::u16string::npos)
            end = text.size();
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::u16string> SplitLines(const std::u16string& text)
{
    std::vector<std::u16string> lines;
    for (std::u16string line : SplitString(text, u'\r')) {
        const size_t first = line.find_first_not_of(u"\r\n");
        if (first == std::u16string::npos)
            continue;
        lines.push_back(line.substr(first, line.find_last_not_of(u"\r\n") - first + 1));
    }
    return lines;
}

namespace {

// Sign and magnitude of the leading decimal number, the magnitude saturated above 2^32.
bool ReadDecimal(const std::u16string& field, bool& negative, uint64_t& magnitude)
{
    size_t i = 0;
    while (i < field.size() && (field[i] == u' ' || (field[i] >= u'\t' && field[i] <= u'\r')))
        ++i;
    negative = false;
    if (i < field.size() && (field[i] == u'+' || field[i] == u'-'))
        negative = field[i++] == u'-';
    magnitude = 0;
    bool digits = false;
    for (; i < field.size() && field[i] >= u'0' && field[i] <= u'9'; ++i) {
        digits = true;
        magnitude = std::min<uint64_t>(magnitude * 10 + (field[i] - u'0'), uint64_t(1) << 33);
    }
    return digits;
}

} // namespace

int32_t ReadSignedDecimal(const std::u16string& field)
{
    bool negative;
    uint64_t magnitude;
    if (!ReadDecimal(field, negative, magnitude))
        return 0;
    if (negative)
        return magnitude > 0x80000000ULL ? std::numeric_limits<int32_t>::min()
                                         : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    return magnitude > 0x7FFFFFFFULL ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
}

uint32_t ReadUnsignedDecimal(const std::u16string& field)
{
    bool negative;
    uint64_t magnitude;
    if (!ReadDecimal(field, negative, magnitude))
        return 0;
    if (magnitude > 0xFFFFFFFFULL)
        return 0xFFFFFFFFU;
    const auto value = static_cast<uint32_t>(magnitude);
    return negative ? 0U - value : value;
}

std::vector<ManifestEntry> ParseManifest(const std::u16string& text, std::vector<std::u16string>& ignored)
{
    std::vector<ManifestEntry> entries;
    for (const std::u16string& line : SplitLines(text)) {
        const std::vector<std::u16string> fields = SplitString(line, u';');
        if (fields.size() != 3) {
            ignored.push_back(line);
            continue;
        }
        entries.push_back({fields[0], ReadSignedDecimal(fields[1]), ReadSignedDecimal(fields[2])});
    }
    return entries;
}

std::vector<CrcListEntry> ParseCrcList(const std::u16string& text, std::vector<std::u16string>& ignored)
{
    std::vector<CrcListEntry> entries;
    for (const std::u16string& line : SplitLines(text)) {
        const std::vector<std::u16string> fields = SplitString(line, u';');
        if (fields.size() != 2) {
            ignored.push_back(line);
            continue;
        }
        entries.push_back({fields[0], ReadUnsignedDecimal(fields[1])});
    }
    return entries;
}

std::u16string PathKey(const std::u16string& path)
{
    std::u16string key;
    for (char16_t c : path) {
        if (c == u'/')
            c = u'\\';
        else if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
            c = static_cast<char16_t>(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F)
            c = static_cast<char16_t>(c - 0x50);
        key += c;
    }
    return key;
}

} // namespace publish
