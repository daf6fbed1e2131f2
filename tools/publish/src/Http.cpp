#include "Http.h"

#include "Platform.h"

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

bool DecodeChunked(const std::string& data, std::string& body, std::string& error)
{
    body.clear();
    for (size_t at = 0;;) {
        const size_t lineEnd = data.find("\r\n", at);
        if (lineEnd == std::string::npos) {
            error = "the chunked body ends early";
            return false;
        }
        char* end = nullptr;
        const unsigned long size = std::strtoul(data.c_str() + at, &end, 16);
        if (end == data.c_str() + at) {
            error = "bad chunk size";
            return false;
        }
        at = lineEnd + 2;
        if (size == 0)
            return true;
        if (at + size + 2 > data.size()) {
            error = "the chunked body ends early";
            return false;
        }
        body.append(data, at, size);
        at += size + 2;
    }
}

} // namespace

bool ParseHttpUrl(const std::string& url, HttpUrl& parsed, std::string& error)
{
    const std::string scheme = "http://";
    if (LowerAscii(url.substr(0, scheme.size())) != scheme) {
        error = url + " is not a plain http:// URL";
        return false;
    }
    const size_t slash = url.find('/', scheme.size());
    const std::string authority
        = url.substr(scheme.size(), slash == std::string::npos ? std::string::npos : slash - scheme.size());
    parsed.path = slash == std::string::npos ? "/" : url.substr(slash);
    const size_t colon = authority.rfind(':');
    parsed.host = authority.substr(0, colon);
    parsed.port = 80;
    if (colon != std::string::npos) {
        char* end = nullptr;
        const long port = std::strtol(authority.c_str() + colon + 1, &end, 10);
        if (*end != '\0' || port <= 0 || port > 65535) {
            error = url + " has a bad port";
            return false;
        }
        parsed.port = static_cast<int>(port);
    }
    if (parsed.host.empty()) {
        error = url + " has no host";
        return false;
    }
    return true;
}

bool ParseHttpResponse(const std::string& response, int& status, std::string& body, std::string& error)
{
    const size_t headerEnd = response.find("\r\n\r\n");
    if (response.compare(0, 5, "HTTP/") != 0 || headerEnd == std::string::npos) {
        error = "the server's answer is not HTTP";
        return false;
    }
    const size_t space = response.find(' ');
    status = std::atoi(response.c_str() + space + 1);
    const std::string headers = LowerAscii(response.substr(0, headerEnd + 2));
    const std::string data = response.substr(headerEnd + 4);
    if (headers.find("\r\ntransfer-encoding: chunked\r\n") != std::string::npos)
        return DecodeChunked(data, body, error);
    const size_t length = headers.find("\r\ncontent-length:");
    if (length != std::string::npos) {
        const unsigned long long expected = std::strtoull(headers.c_str() + length + 17, nullptr, 10);
        if (data.size() < expected) {
            error = "the body ends after " + std::to_string(data.size()) + " of " + std::to_string(expected) + " bytes";
            return false;
        }
        body = data.substr(0, static_cast<size_t>(expected));
        return true;
    }
    body = data;
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

bool HttpGet(const HttpUrl& url, int& status, std::string& body, std::string& error)
{
    const std::string host = url.port == 80 ? url.host : url.host + ":" + std::to_string(url.port);
    const std::string request = "GET " + PercentEncodePath(url.path) + " HTTP/1.1\r\nHost: " + host
        + "\r\nUser-Agent: mirevale-publish\r\nAccept: */*\r\nConnection: close\r\n\r\n";
    std::string response;
    return TcpExchange(url.host, url.port, request, response, error)
        && ParseHttpResponse(response, status, body, error);
}

} // namespace publish
