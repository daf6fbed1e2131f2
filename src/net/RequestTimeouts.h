#pragma once
#include <windows.h>
#include <wininet.h>

// Wine's WinINet gives the connection of an InternetOpenUrl request no receive or send time-out: those
// of the internet handle reach no request. The request's own take effect when set before its response is
// read, which its status notice allows (only a request opened with a context other than 0 sends it); on
// Windows this repeats what the request inherits. Installed on the internet handle with
// InternetSetStatusCallbackW.
template <DWORD TIMEOUT_MS>
void CALLBACK ApplyRequestTimeouts(HINTERNET hRequest, DWORD_PTR, DWORD dwStatus, LPVOID, DWORD)
{
    if (dwStatus != INTERNET_STATUS_SENDING_REQUEST)
        return;
    for (DWORD dwOption : {INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT}) {
        DWORD dwValue = TIMEOUT_MS;
        InternetSetOptionExW(hRequest, dwOption, &dwValue, sizeof(dwValue), 0);
    }
}
