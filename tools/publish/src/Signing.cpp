#include "Signing.h"

#include <algorithm>

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

std::string ReleaseListFile(std::vector<ListedFile> files)
{
    std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) { return a.name < b.name; });
    std::string text;
    for (const ListedFile& file : files)
        text += LowerHex(file.digest) + "  " + std::to_string(file.size) + "  " + file.name + "\n";
    return text;
}

bool ParseReleaseList(const std::string& text, std::vector<ListedFile>& files, std::string& error)
{
    files.clear();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || text.empty() || text.back() != '\n') {
        error = "release.sha256 has a byte-order mark, no line, or no LF at its end";
        return false;
    }
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const std::string where = "release.sha256 line " + std::to_string(files.size() + 1) + ": ";
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
        if (!files.empty() && !(files.back().name < file.name)) {
            error = where + "names are not in increasing byte order";
            return false;
        }
        files.push_back(file);
    }
    return true;
}

} // namespace publish
