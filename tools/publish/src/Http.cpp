#include "Http.h"

#include <cctype>
#include <cstdlib>

namespace publish {

namespace {

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool IsHttpUrl(const std::string& url, std::string& error)
{
    const size_t schemeEnd = url.find("://");
    const std::string scheme = LowerAscii(url.substr(0, schemeEnd));
    if (schemeEnd == std::string::npos || (scheme != "http" && scheme != "https")) {
        error = url + " is not an http:// or https:// URL";
        return false;
    }
    const size_t start = schemeEnd + 3;
    const size_t end = url.find_first_of("/?#", start);
    const std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // The port's colon is the last one outside the brackets of an IPv6 address.
    const size_t colon = authority.rfind(':');
    const bool hasPort = colon != std::string::npos && authority.find(']', colon) == std::string::npos;
    if (hasPort) {
        char* portEnd = nullptr;
        const long port = std::strtol(authority.c_str() + colon + 1, &portEnd, 10);
        if (colon + 1 == authority.size() || *portEnd != '\0' || port <= 0 || port > 65535) {
            error = url + " has a bad port";
            return false;
        }
    }
    if ((hasPort ? colon : authority.size()) == 0) {
        error = url + " has no host";
        return false;
    }
    return true;
}

std::string PercentEncodePath(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::string("/-._~!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace publish
