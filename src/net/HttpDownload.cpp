#include "net/HttpDownload.h"

#include <wininet.h>

#include <climits>
#include <cstring>
#include <new>

#include "net/ProxyAuthDlg.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"

namespace {

const DWORD NET_TIMEOUT_MS = 15000;
const DWORD CONNECT_RETRIES = 5;
const DWORD READ_CHUNK = 5120;
const int GROWTH_SLACK = 1048576;

bool QueryStatus(HINTERNET hRequest, WCHAR (&szStatus)[32])
{
    ZeroMemory(szStatus, sizeof(szStatus));
    DWORD cbStatus = 64;
    return HttpQueryInfoW(hRequest, HTTP_QUERY_STATUS_CODE, szStatus, &cbStatus, nullptr) != FALSE;
}

// The body length the server declared, if it declared one.
bool QueryContentLength(HINTERNET hRequest, DWORD* pdwLength)
{
    DWORD dwLength = 0;
    DWORD cbLength = sizeof(dwLength);
    if (!HttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &dwLength, &cbLength, nullptr))
        return false;
    *pdwLength = dwLength;
    return true;
}

// Wine's WinINet gives the connection of an InternetOpenUrl request no receive or send time-out:
// those of the internet handle reach no request. The request's own take effect when set before its
// response is read, which its status notice allows; on Windows this repeats what it inherits.
void CALLBACK ApplyTimeouts(HINTERNET hInternet, DWORD_PTR, DWORD dwStatus, LPVOID, DWORD)
{
    if (dwStatus != INTERNET_STATUS_SENDING_REQUEST)
        return;
    for (DWORD dwOption : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD dwValue = NET_TIMEOUT_MS;
        InternetSetOptionExW(hInternet, dwOption, &dwValue, sizeof(dwValue), 0);
    }
}

// Answers a 407 with the remembered credentials, or with new ones from the credentials dialog.
// True when the proxy then answers 200.
bool AuthenticateProxy(HINTERNET hRequest, WCHAR szProxyUser[64], WCHAR szProxyPassword[64], HWND hWndOwner)
{
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  need check username and password");
    if (szProxyUser[0] == L'\0' || szProxyPassword[0] == L'\0') {
        CProxyAuthDlg dlg(nullptr);
        if (dlg.DoModal() != IDOK) {
            LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]] check username and password cancle");
            return false;
        }
        CopyString(szProxyUser, 64, dlg.GetUser().c_str());
        CopyString(szProxyPassword, 64, dlg.GetPassword().c_str());
    }

    InternetSetOptionExW(
        hRequest, INTERNET_OPTION_PROXY_USERNAME, szProxyUser, static_cast<DWORD>(wcslen(szProxyUser) + 1), 0);
    InternetSetOptionExW(
        hRequest, INTERNET_OPTION_PROXY_PASSWORD, szProxyPassword, static_cast<DWORD>(wcslen(szProxyPassword) + 1), 0);
    HttpSendRequestW(hRequest, nullptr, 0, nullptr, 0);

    WCHAR szStatus[32];
    if (!QueryStatus(hRequest, szStatus)) {
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  error=%lu", GetLastError());
        return false;
    }
    if (_wcsicmp(szStatus, L"200") != 0) {
        MessageBoxW(hWndOwner, L"用户名密码验证失败", L"提示", MB_OK);
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password failed");
        return false;
    }
    LogNormal(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password success");
    return true;
}

// Replaces the caller's block by one of nNewSize bytes holding the first nLength old bytes, the
// rest zero. Leaves everything untouched when the memory is not there.
bool GrowBlock(BYTE** ppBuffer, int nLength, int* pnCapacity, long long llNewSize)
{
    if (llNewSize > INT_MAX)
        return false;
    BYTE* pNew = new (std::nothrow) BYTE[static_cast<size_t>(llNewSize)];
    if (pNew == nullptr)
        return false;
    if (nLength > 0)
        memcpy(pNew, *ppBuffer, static_cast<size_t>(nLength));
    memset(pNew + nLength, 0, static_cast<size_t>(llNewSize - nLength));
    delete[] * ppBuffer;
    *ppBuffer = pNew;
    *pnCapacity = static_cast<int>(llNewSize);
    return true;
}

} // namespace

int HttpDownload(const WCHAR* lpUrl, BYTE** ppBuffer, int* pnLength, int* pnCapacity, WCHAR szProxyUser[64],
    WCHAR szProxyPassword[64], HWND hWndOwner)
{
    HTTP_VERSION_INFO httpVersion = {1, 1};
    if (!InternetSetOptionExW(nullptr, INTERNET_OPTION_HTTP_VERSION, &httpVersion, sizeof(httpVersion), 0)) {
        LogError(L"[HttpDownload  InternetSetOptionEx]  error=%lu", GetLastError());
        return 0;
    }
    if (lpUrl == nullptr) {
        LogError(L"[HttpDownload  lpUrl]  lpUrl is null");
        return 0;
    }

    CInternetHandle hInternet(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!hInternet) {
        LogError(L"[HttpDownload  InternetOpen]  error=%lu", GetLastError());
        return 0;
    }
    const struct {
        DWORD dwOption;
        DWORD dwValue;
    } options[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, NET_TIMEOUT_MS},
        {INTERNET_OPTION_CONNECT_BACKOFF, NET_TIMEOUT_MS},
        {INTERNET_OPTION_CONNECT_RETRIES, CONNECT_RETRIES},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, NET_TIMEOUT_MS},
        {INTERNET_OPTION_SEND_TIMEOUT, NET_TIMEOUT_MS},
        {INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, NET_TIMEOUT_MS},
        {INTERNET_OPTION_DATA_SEND_TIMEOUT, NET_TIMEOUT_MS},
    };
    for (const auto& option : options) {
        DWORD dwValue = option.dwValue;
        InternetSetOptionExW(hInternet.Get(), option.dwOption, &dwValue, sizeof(dwValue), 0);
    }
    InternetSetStatusCallbackW(hInternet.Get(), ApplyTimeouts);

    // INTERNET_FLAG_TRANSFER_ASCII has an effect on FTP URLs only.
    CInternetHandle hRequest(InternetOpenUrlW(hInternet.Get(), lpUrl, nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_TRANSFER_ASCII, 1));
    if (!hRequest) {
        LogError(L"[HttpDownload  InternetOpenUrl]  error=%lu lpUrl=%s", GetLastError(), lpUrl);
        return 0;
    }

    WCHAR szStatus[32];
    bool bStatusRead = QueryStatus(hRequest.Get(), szStatus);
    if (!bStatusRead || (_wcsicmp(szStatus, L"200") != 0 && _wcsicmp(szStatus, L"407") != 0)) {
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  error=%lu", GetLastError());
        return 0;
    }
    if (_wcsicmp(szStatus, L"407") == 0 && !AuthenticateProxy(hRequest.Get(), szProxyUser, szProxyPassword, hWndOwner))
        return 0;

    // The platform may end a body that the server cut short as if it were complete: the declared
    // length is what tells a truncated body from a whole one. It also lets a large body be
    // reserved at once instead of being copied once per megabyte.
    DWORD dwDeclared = 0;
    bool bDeclared = QueryContentLength(hRequest.Get(), &dwDeclared);
    const int nStartLength = *pnLength;

    BYTE chunk[READ_CHUNK];
    for (;;) {
        DWORD dwRecv = 0;
        if (!InternetReadFile(hRequest.Get(), chunk, READ_CHUNK, &dwRecv)) {
            LogError(L"[HttpDownload  InternetReadFile]  error=%lu  size=%lu", GetLastError(), dwRecv);
            return 0;
        }
        if (dwRecv > READ_CHUNK) {
            LogError(L"[HttpDownload  InternetReadFile]  dwRecv > 1000 dwRecv=%lu", dwRecv);
            return 0;
        }
        if (dwRecv == 0) {
            long long llReceived = static_cast<long long>(*pnLength) - nStartLength;
            if (bDeclared && llReceived != dwDeclared) {
                LogError(L"[HttpDownload  InternetReadFile]  incomplete body size=%lu Content-Length=%lu",
                    static_cast<DWORD>(llReceived), dwDeclared);
                return 0;
            }
            hRequest.Close();
            hInternet.Close();
            return 1;
        }
        long long llNeeded = static_cast<long long>(*pnLength) + dwRecv;
        if (llNeeded > *pnCapacity) {
            long long llNewSize = llNeeded + GROWTH_SLACK;
            if (bDeclared && static_cast<long long>(nStartLength) + dwDeclared + GROWTH_SLACK > llNewSize)
                llNewSize = static_cast<long long>(nStartLength) + dwDeclared + GROWTH_SLACK;
            if (!GrowBlock(ppBuffer, *pnLength, pnCapacity, llNewSize)) {
                LogError(L"[HttpDownload  InternetReadFile]  new buffer failed");
                return 0;
            }
        }
        memcpy(*ppBuffer + *pnLength, chunk, dwRecv);
        *pnLength += static_cast<int>(dwRecv);
    }
}
