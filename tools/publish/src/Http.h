#pragma once
#include <cstdint>
#include <memory>
#include <string>

// Files fetched over HTTP or HTTPS the way the installer downloads them: a plain GET through the proxy
// and with the certificates this machine is set up with, following a few redirects. libcurl does the
// work natively, WinINet (as in the installer) on Windows.
namespace publish {

// A server that sends nothing for this long, or cannot be reached in it, fails the request.
constexpr long kHttpTimeoutSeconds = 60;
constexpr long kHttpMaxRedirects = 5;

enum class HttpResult {
    Answered, // a final response came: a 200 with its whole body, or another status with its body unread
    PastLimit, // a 200 whose body is longer than the limit; the transfer stopped at that point
    Failed,
};

// One session of requests, which may keep its connections open from one request to the next.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Holds no more than `limit` bytes of the body at any time.
    HttpResult Get(const std::string& url, uint64_t limit, long& status, std::string& body, std::string& error);

private:
    struct Session;
    std::unique_ptr<Session> m_session;
};

// An http:// or https:// URL with a host and, if any, a port from 1 to 65535; `error` says what is wrong.
bool IsHttpUrl(const std::string& url, std::string& error);
std::string PercentEncodePath(const std::string& path);

} // namespace publish
