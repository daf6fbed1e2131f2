#include "Http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

namespace publish {

namespace {

// What one request keeps of its response while it arrives.
struct Transfer {
    CURL* handle;
    uint64_t limit;
    std::string& body;
    bool pastLimit = false;
    bool otherStatus = false;
};

// Takes the final response's body (redirects' bodies never reach here). Returning less than was given
// ends the transfer: a body that is not wanted, or that would go past the limit, stops at its first
// piece too many instead of being read to its end.
size_t Receive(char* data, size_t size, size_t count, void* context)
{
    Transfer& transfer = *static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    long status = 0;
    curl_off_t declared = -1;
    curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
    if (status != 200) {
        transfer.otherStatus = true;
        return 0;
    }
    if (bytes > transfer.limit - transfer.body.size()
        || (declared >= 0 && static_cast<uint64_t>(declared) > transfer.limit)) {
        transfer.pastLimit = true;
        return 0;
    }
    transfer.body.append(data, bytes);
    return bytes;
}

} // namespace

struct HttpClient::Session {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle {nullptr, curl_easy_cleanup};
    char message[CURL_ERROR_SIZE] = {};
    bool global = false;

    ~Session()
    {
        handle.reset();
        if (global)
            curl_global_cleanup();
    }
};

HttpClient::HttpClient()
    : m_session(new Session)
{
    m_session->global = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!m_session->global)
        return;
    m_session->handle.reset(curl_easy_init());
    CURL* handle = m_session->handle.get();
    if (!handle)
        return;
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, m_session->message);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "mirevale-publish");
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kHttpMaxRedirects);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kHttpTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kHttpTimeoutSeconds);
    // A release served with a certificate from a private CA is checked against that CA alone.
    const char* caFile = std::getenv("MIREVALE_PUBLISH_CA_FILE");
    if (caFile && *caFile) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile);
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
}

HttpClient::~HttpClient() = default;

HttpResult HttpClient::Get(const std::string& url, uint64_t limit, long& status, std::string& body, std::string& error)
{
    CURL* handle = m_session->handle.get();
    status = 0;
    body.clear();
    if (!handle) {
        error = "cannot start libcurl";
        return HttpResult::Failed;
    }
    Transfer transfer {handle, limit, body};
    m_session->message[0] = '\0';
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.pastLimit) {
        body.clear();
        return HttpResult::PastLimit;
    }
    if (code == CURLE_OK || transfer.otherStatus)
        return HttpResult::Answered;
    error = m_session->message[0] ? m_session->message : curl_easy_strerror(code);
    if (code == CURLE_COULDNT_CONNECT) {
        long osError = 0;
        curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osError);
        error = "cannot connect: " + error;
        if (osError != 0)
            error += std::string(" (") + std::strerror(static_cast<int>(osError)) + ")";
    }
    return HttpResult::Failed;
}

} // namespace publish
