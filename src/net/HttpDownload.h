#pragma once
#include <windows.h>

// Fetches lpUrl with an HTTP GET through the system's proxy configuration and appends the body to
// the caller's block at *pnLength, growing the block (and *pnCapacity) when it outgrows it.
// A proxy that answers 407 is given the remembered credentials, or asked for them once through
// the credentials dialog. Returns 1 for a complete body, 0 for any failure (logged).
int HttpDownload(const WCHAR* lpUrl, BYTE** ppBuffer, int* pnLength, int* pnCapacity, WCHAR szProxyUser[64],
    WCHAR szProxyPassword[64], HWND hWndOwner);
