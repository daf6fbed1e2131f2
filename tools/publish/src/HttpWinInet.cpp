#include "Http.h"

#include "core/rules/Text.h"
#include "net/RequestTimeouts.h"
#include "support/Handles.h"
#include "support/WideText.h"

#include <algorithm>
#include <cwchar>

namespace publish {

namespace {

constexpr DWORD kTimeoutMs = kHttpTimeoutSeconds * 1000;
const DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;

// WinINet's codes have their texts in wininet.dll, not in the system's table.
std::string Failure(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM
            | FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleW(L"wininet.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    CLocalMemory owner(text);
    std::wstring message = text ? text : L"";
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    const std::string described
        = (message.empty() ? "error" : Utf16ToUtf8(ToU16(message))) + " (" + std::to_string(code) + ")";
    return code == ERROR_INTERNET_CANNOT_CONNECT ? "cannot connect: " + described : described;
}

// The body length the response declares, when it declares one.
bool DeclaredLength(HINTERNET request, uint64_t& length)
{
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return false;
    wchar_t* end = nullptr;
    length = std::wcstoull(text, &end, 10);
    return end != text && *end == L'\0';
}

} // namespace

struct HttpClient::Session {
    CInternetHandle internet;
    DWORD openError = 0;
};

HttpClient::HttpClient()
    : m_session(new Session)
{
    // The system's proxy configuration, as the installer uses it.
    m_session->internet.Attach(InternetOpenW(L"mirevale-publish", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_session->internet) {
        m_session->openError = GetLastError();
        return;
    }
    for (DWORD option :
        {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD value = kTimeoutMs;
        InternetSetOptionW(m_session->internet.Get(), option, &value, sizeof(value));
    }
    InternetSetStatusCallbackW(m_session->internet.Get(), ApplyRequestTimeouts<kTimeoutMs>);
}

HttpClient::~HttpClient() = default;

HttpResult HttpClient::Get(const std::string& url, uint64_t limit, long& status, std::string& body, std::string& error)
{
    status = 0;
    body.clear();
    if (!m_session->internet) {
        error = "cannot start WinINet: " + Failure(m_session->openError);
        return HttpResult::Failed;
    }
    // A context value other than 0 is what lets the status notices reach ApplyRequestTimeouts.
    std::u16string wideUrl;
    Utf8ToUtf16(url, wideUrl);
    CInternetHandle request(
        InternetOpenUrlW(m_session->internet.Get(), AsWide(wideUrl.c_str()), nullptr, 0, kOpenFlags, 1));
    DWORD code = 0;
    DWORD size = sizeof(code);
    if (!request
        || !HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr)) {
        error = Failure(GetLastError());
        return HttpResult::Failed;
    }
    status = static_cast<long>(code);
    if (status != 200)
        return HttpResult::Answered;
    uint64_t declared = 0;
    const bool isDeclared = DeclaredLength(request.Get(), declared);
    if (isDeclared && declared > limit)
        return HttpResult::PastLimit;
    char chunk[65536];
    for (;;) {
        // Never more than one byte past the limit is asked for.
        const DWORD ask = static_cast<DWORD>(std::min<uint64_t>(ARRAYSIZE(chunk), limit - body.size() + 1));
        DWORD got = 0;
        if (!InternetReadFile(request.Get(), chunk, ask, &got)) {
            error = Failure(GetLastError());
            return HttpResult::Failed;
        }
        if (got > limit - body.size()) {
            body.clear();
            return HttpResult::PastLimit;
        }
        if (got == 0)
            break;
        body.append(chunk, got);
    }
    // WinINet may end a body that the server cut short as if it were whole.
    if (isDeclared && body.size() != declared) {
        error = "the body ends after " + std::to_string(body.size()) + " of " + std::to_string(declared) + " bytes";
        return HttpResult::Failed;
    }
    return HttpResult::Answered;
}

} // namespace publish
