#include "net/HttpDownload.h"

#include <algorithm>

#include <wininet.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "net/DownloadState.h"
#include "net/ProxyAuthDlg.h"
#include "net/RequestTimeouts.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"

namespace {

const DWORD NET_TIMEOUT_MS = 15000;
const DWORD CONNECT_RETRIES = 5;
const DWORD READ_CHUNK = 5120;
const int GROWTH_SLACK = 1048576;
// INTERNET_FLAG_TRANSFER_ASCII has an effect on FTP URLs only.
const DWORD OPEN_FLAGS
    = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI | INTERNET_FLAG_TRANSFER_ASCII;

// Sends the GET, with extra request headers when pszHeaders is not null.
HINTERNET OpenUrl(HINTERNET hInternet, const WCHAR* lpUrl, const WCHAR* pszHeaders)
{
    return InternetOpenUrlW(
        hInternet, lpUrl, pszHeaders, pszHeaders != nullptr ? static_cast<DWORD>(-1L) : 0, OPEN_FLAGS, 1);
}

// The certificate faults WinINet refuses a server for, named for whoever reads the log.
const WCHAR* CertificateFault(DWORD dwError)
{
    switch (dwError) {
    case ERROR_INTERNET_INVALID_CA:
        return L"unknown issuer";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return L"wrong host name";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return L"expired or not yet valid";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: // what WinINet under Wine reports for an unknown issuer too
        return L"revocation check failed";
    case ERROR_INTERNET_SEC_CERT_NO_REV:
        return L"no revocation information";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return L"revoked";
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
        return L"invalid";
    default:
        return nullptr;
    }
}

void LogOpenFailure(const WCHAR* lpUrl)
{
    DWORD dwError = GetLastError();
    LogError(L"[HttpDownload  InternetOpenUrl]  error=%lu lpUrl=%s", dwError, lpUrl);
    if (const WCHAR* pszFault = CertificateFault(dwError))
        LogError(L"[HttpDownload  InternetOpenUrl]  certificate refused (%s) error=%lu", pszFault, dwError);
}

bool IsStatus(const WCHAR* pszStatus, const WCHAR* pszCode)
{
    return _wcsicmp(pszStatus, pszCode) == 0;
}

// 200, and for a request for the rest of a body also 206 (the rest, or another part) and 416 (a
// body shorter than the part held): the request goes on with these.
bool IsUsableStatus(const WCHAR* pszStatus, bool bRanged)
{
    return IsStatus(pszStatus, L"200") || (bRanged && (IsStatus(pszStatus, L"206") || IsStatus(pszStatus, L"416")));
}

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

// A response header as text; empty when the response has none or it does not fit.
void QueryText(HINTERNET hRequest, DWORD dwInfo, WCHAR* pszText, DWORD cchText)
{
    DWORD cbText = cchText * sizeof(WCHAR);
    if (!HttpQueryInfoW(hRequest, dwInfo, pszText, &cbText, nullptr))
        pszText[0] = L'\0';
}

void SetProxyCredentials(HINTERNET hRequest, const WCHAR* pszUser, const WCHAR* pszPassword)
{
    InternetSetOptionExW(hRequest, INTERNET_OPTION_PROXY_USERNAME, const_cast<WCHAR*>(pszUser),
        static_cast<DWORD>(wcslen(pszUser) + 1), 0);
    InternetSetOptionExW(hRequest, INTERNET_OPTION_PROXY_PASSWORD, const_cast<WCHAR*>(pszPassword),
        static_cast<DWORD>(wcslen(pszPassword) + 1), 0);
}

// A 407 is a proxy's answer only where the system's configuration sends the request through a proxy.
// From any other server it is a failed download like any other status: no server on the path may have
// the installer's own window ask the user for a password.
bool ProxyServes(HINTERNET hInternet, const WCHAR* lpUrl)
{
    // INTERNET_PROXY_INFOW, which MinGW's header spells only through TCHAR.
    struct ProxyInfo {
        DWORD dwAccessType;
        LPCWSTR lpszProxy;
        LPCWSTR lpszProxyBypass;
    };
    DWORD cb = 0;
    InternetQueryOptionW(hInternet, INTERNET_OPTION_PROXY, nullptr, &cb);
    if (cb < sizeof(ProxyInfo))
        return false;
    std::vector<BYTE> buffer(cb);
    if (!InternetQueryOptionW(hInternet, INTERNET_OPTION_PROXY, buffer.data(), &cb))
        return false;
    const ProxyInfo* pInfo = reinterpret_cast<const ProxyInfo*>(buffer.data());
    if (pInfo->dwAccessType != INTERNET_OPEN_TYPE_PROXY || pInfo->lpszProxy == nullptr || pInfo->lpszProxy[0] == L'\0')
        return false;
    // A host the bypass list names exactly goes direct.
    WCHAR szHost[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = szHost;
    parts.dwHostNameLength = ARRAYSIZE(szHost);
    if (pInfo->lpszProxyBypass == nullptr || !InternetCrackUrlW(lpUrl, 0, 0, &parts))
        return true;
    std::wstring strBypass = pInfo->lpszProxyBypass;
    for (size_t nStart = 0; nStart <= strBypass.size();) {
        size_t nEnd = strBypass.find_first_of(L"; ", nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strBypass.size();
        std::wstring strEntry = strBypass.substr(nStart, nEnd - nStart);
        if (!strEntry.empty() && _wcsicmp(strEntry.c_str(), szHost) == 0)
            return false;
        nStart = nEnd + 1;
    }
    return true;
}

// Answers a 407 with the remembered credentials, or with new ones from the credentials dialog.
// True when the proxy then gives a usable status, which szStatus holds.
bool AuthenticateProxy(HINTERNET hInternet, const WCHAR* lpUrl, const WCHAR* pszHeaders, CInternetHandle& hRequest,
    WCHAR (&szStatus)[32], WCHAR szProxyUser[64], WCHAR szProxyPassword[64], HWND hWndOwner)
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

    SetProxyCredentials(hRequest.Get(), szProxyUser, szProxyPassword);
    if (_wcsnicmp(lpUrl, L"https:", 6) == 0) {
        // WinINet under Wine sends the repeated request of a tunnel to the proxy itself, without its
        // CONNECT. A new request opens the tunnel with the credentials the session now holds; should
        // it meet a 407 all the same, it is answered on its own handle.
        hRequest.Attach(OpenUrl(hInternet, lpUrl, pszHeaders));
        if (!hRequest) {
            LogOpenFailure(lpUrl);
            return false;
        }
        if (QueryStatus(hRequest.Get(), szStatus) && IsStatus(szStatus, L"407")) {
            SetProxyCredentials(hRequest.Get(), szProxyUser, szProxyPassword);
            HttpSendRequestW(hRequest.Get(), nullptr, 0, nullptr, 0);
        }
    } else {
        HttpSendRequestW(hRequest.Get(), nullptr, 0, nullptr, 0);
    }

    if (!QueryStatus(hRequest.Get(), szStatus)) {
        LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  error=%lu", GetLastError());
        return false;
    }
    if (!IsUsableStatus(szStatus, pszHeaders != nullptr)) {
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

// Reads the body onto the block at *pnLength. dwDeclared is the body's length when bDeclared. With llRoom
// not negative, a body of more bytes fails (bPastLimit set) at the first byte too many.
bool ReadBody(HINTERNET hRequest, BYTE** ppBuffer, int* pnLength, int* pnCapacity, bool bDeclared, DWORD dwDeclared,
    long long llRoom, bool& bPastLimit, CDownloadState* pState)
{
    const int nStartLength = *pnLength;
    if (llRoom >= 0 && bDeclared && dwDeclared > llRoom) {
        bPastLimit = true;
        LogError(L"[HttpDownload  InternetReadFile]  Content-Length=%lu past the listed size: %I64d bytes left",
            dwDeclared, llRoom);
        return false;
    }
    BYTE chunk[READ_CHUNK];
    for (;;) {
        if (pState != nullptr && pState->StopRequested()) {
            LogNormal(L"[HttpDownload  InternetReadFile]  stopped size=%d", *pnLength - nStartLength);
            return false;
        }
        // With a bound, never more than one byte past it is asked for.
        DWORD dwAsk = READ_CHUNK;
        long long llReceived = static_cast<long long>(*pnLength) - nStartLength;
        if (llRoom >= 0 && llRoom - llReceived + 1 < dwAsk)
            dwAsk = static_cast<DWORD>(llRoom - llReceived + 1);
        DWORD dwRecv = 0;
        if (!InternetReadFile(hRequest, chunk, dwAsk, &dwRecv)) {
            LogError(L"[HttpDownload  InternetReadFile]  error=%lu  size=%lu", GetLastError(), dwRecv);
            return false;
        }
        if (dwRecv > dwAsk) {
            LogError(L"[HttpDownload  InternetReadFile]  dwRecv > 1000 dwRecv=%lu", dwRecv);
            return false;
        }
        if (llRoom >= 0 && llReceived + dwRecv > llRoom) {
            bPastLimit = true;
            LogError(L"[HttpDownload  InternetReadFile]  body past the listed size: more than %I64d bytes", llRoom);
            return false;
        }
        if (dwRecv == 0) {
            if (bDeclared && llReceived != dwDeclared) {
                LogError(L"[HttpDownload  InternetReadFile]  incomplete body size=%lu Content-Length=%lu",
                    static_cast<DWORD>(llReceived), dwDeclared);
                return false;
            }
            // The moment of the last byte of a body that the signed list is to judge.
            if (pState != nullptr && pState->Hashing())
                LogNormal(L"[HttpDownload  InternetReadFile]  end of body size=%lu", static_cast<DWORD>(llReceived));
            return true;
        }
        long long llNeeded = static_cast<long long>(*pnLength) + dwRecv;
        if (llNeeded > *pnCapacity) {
            long long llNewSize = llNeeded + GROWTH_SLACK;
            if (bDeclared && static_cast<long long>(nStartLength) + dwDeclared + GROWTH_SLACK > llNewSize)
                llNewSize = static_cast<long long>(nStartLength) + dwDeclared + GROWTH_SLACK;
            if (pState != nullptr)
                pState->DetachBlock();
            if (!GrowBlock(ppBuffer, *pnLength, pnCapacity, llNewSize)) {
                LogError(L"[HttpDownload  InternetReadFile]  new buffer failed");
                return false;
            }
        }
        memcpy(*ppBuffer + *pnLength, chunk, dwRecv);
        *pnLength += static_cast<int>(dwRecv);
        if (pState != nullptr) {
            pState->NoteBytes(*ppBuffer, *pnLength);
            pState->ReportProgress(*pnLength);
        }
    }
}

// True when a response to a request for the rest of the body carries exactly that rest.
bool ContinuesHeldBody(HINTERNET hRequest, const WCHAR* pszStatus, const CDownloadState& state, int nLength)
{
    WCHAR szRange[64];
    QueryText(hRequest, HTTP_QUERY_CONTENT_RANGE, szRange, ARRAYSIZE(szRange));
    if (IsStatus(pszStatus, L"206") && ContinuesBody(szRange, state.Held(nLength), state.m_dwTotal))
        return true;
    LogNormal(L"[HttpDownload  Range]  status=%s Content-Range=%s: the whole body again", pszStatus, szRange);
    return false;
}

// Once the download has returned, the block is the caller's alone: the body's hash reads no more of it.
class CBlockReturn {
public:
    explicit CBlockReturn(CDownloadState* pState)
        : m_pState(pState)
    {
    }
    ~CBlockReturn()
    {
        if (m_pState != nullptr)
            m_pState->DetachBlock();
    }
    CBlockReturn(const CBlockReturn&) = delete;
    CBlockReturn& operator=(const CBlockReturn&) = delete;

private:
    CDownloadState* m_pState;
};

// Notes the response that begins a whole body, so that a later attempt can continue it.
void BeginBody(HINTERNET hRequest, CDownloadState& state, int nLength, bool bDeclared, DWORD dwDeclared)
{
    WCHAR szETag[128];
    WCHAR szLastModified[64];
    QueryText(hRequest, HTTP_QUERY_ETAG, szETag, ARRAYSIZE(szETag));
    QueryText(hRequest, HTTP_QUERY_LAST_MODIFIED, szLastModified, ARRAYSIZE(szLastModified));
    state.BeginBody(nLength, szETag, szLastModified, bDeclared, dwDeclared);
}

} // namespace

int HttpDownload(const WCHAR* lpUrl, BYTE** ppBuffer, int* pnLength, int* pnCapacity, WCHAR szProxyUser[64],
    WCHAR szProxyPassword[64], HWND hWndOwner, CDownloadState* pState)
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
    if (pState != nullptr)
        pState->m_bPastLimit = false;
    CBlockReturn blockReturn(pState);

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
    InternetSetStatusCallbackW(hInternet.Get(), ApplyRequestTimeouts<NET_TIMEOUT_MS>);

    // A body that an earlier attempt left part of in the block is continued: one request for the
    // rest, and, when the server answers with anything but that rest, one for the whole body.
    WCHAR szHeaders[256];
    bool bRanged = pState != nullptr && pState->CanResume(*pnLength)
        && FormatResumeHeaders(szHeaders, ARRAYSIZE(szHeaders), pState->Held(*pnLength), pState->m_szValidator);
    for (;;) {
        const WCHAR* pszHeaders = bRanged ? szHeaders : nullptr;
        if (bRanged)
            LogNormal(L"[HttpDownload  Range]  resume at %lu of %lu", pState->Held(*pnLength), pState->m_dwTotal);
        if (pState != nullptr && pState->StopRequested())
            return 0;
        CInternetHandle hRequest(OpenUrl(hInternet.Get(), lpUrl, pszHeaders));
        if (!hRequest) {
            LogOpenFailure(lpUrl);
            return 0;
        }

        WCHAR szStatus[32];
        bool bStatusRead = QueryStatus(hRequest.Get(), szStatus);
        if (!bStatusRead || (!IsUsableStatus(szStatus, bRanged) && !IsStatus(szStatus, L"407"))) {
            LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  error=%lu", GetLastError());
            return 0;
        }
        if (IsStatus(szStatus, L"407")) {
            if (!ProxyServes(hInternet.Get(), lpUrl)) {
                LogError(
                    L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  status=407 from %s, which no proxy serves",
                    lpUrl);
                return 0;
            }
            if (pState != nullptr && pState->Unattended()) {
                LogError(L"[HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  status=407: the proxy asks for "
                         L"credentials, which an unattended run cannot ask for");
                pState->NoteCredentialsAsked();
                return 0;
            }
            if (!AuthenticateProxy(
                    hInternet.Get(), lpUrl, pszHeaders, hRequest, szStatus, szProxyUser, szProxyPassword, hWndOwner))
                return 0;
        }

        if (bRanged && !ContinuesHeldBody(hRequest.Get(), szStatus, *pState, *pnLength)) {
            // The held part belongs to another body, or the server sends no part: start again at 0,
            // leaving the block zero past the count as the caller handed it over.
            memset(*ppBuffer + pState->m_nBodyStart, 0, static_cast<size_t>(*pnLength - pState->m_nBodyStart));
            *pnLength = pState->m_nBodyStart;
            bRanged = false;
            if (!IsStatus(szStatus, L"200"))
                continue;
        }

        // The platform may end a body that the server cut short as if it were complete: the declared
        // length is what tells a truncated body from a whole one. It also lets a large body be
        // reserved at once instead of being copied once per megabyte.
        DWORD dwDeclared = 0;
        bool bDeclared = QueryContentLength(hRequest.Get(), &dwDeclared);
        if (pState != nullptr && !bRanged)
            BeginBody(hRequest.Get(), *pState, *pnLength, bDeclared, dwDeclared);
        long long llRoom = -1;
        if (pState != nullptr && pState->BodyLimit() >= 0)
            llRoom
                = std::max(0LL, pState->BodyLimit() - (bRanged ? static_cast<long long>(pState->Held(*pnLength)) : 0));
        bool bPastLimit = false;
        if (!ReadBody(
                hRequest.Get(), ppBuffer, pnLength, pnCapacity, bDeclared, dwDeclared, llRoom, bPastLimit, pState)) {
            if (bPastLimit)
                pState->m_bPastLimit = true;
            return 0;
        }
        // A continued body is whole at the length the response that began it declared, whatever the
        // 206 said of its own part, or left unsaid; what is held stays for the next attempt.
        if (bRanged && pState->Held(*pnLength) != pState->m_dwTotal) {
            LogError(L"[HttpDownload  InternetReadFile]  incomplete body size=%lu Content-Length=%lu",
                pState->Held(*pnLength), pState->m_dwTotal);
            return 0;
        }
        hRequest.Close();
        hInternet.Close();
        return 1;
    }
}
