#pragma once
#include <string>

// Just enough HTTP/1.1 to fetch whole files the way the installer does: plain GET, no proxy, no TLS.
namespace publish {

struct HttpUrl {
    std::string host;
    int port = 80;
    std::string path; // from the first "/" on
};

bool ParseHttpUrl(const std::string& url, HttpUrl& parsed, std::string& error);
// Status and body of a complete response (Content-Length, chunked, or up to the connection's end).
bool ParseHttpResponse(const std::string& response, int& status, std::string& body, std::string& error);
std::string PercentEncodePath(const std::string& path);
bool HttpGet(const HttpUrl& url, int& status, std::string& body, std::string& error);

} // namespace publish
