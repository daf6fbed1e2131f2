#pragma once
#include <windows.h>

class CDownloadState;

// Fetches lpUrl with an HTTP GET (or over TLS for an https URL) through the system's proxy
// configuration and appends the body to the caller's block at *pnLength, growing the block (and
// *pnCapacity) when it outgrows it. A proxy that answers 407 is given the remembered credentials, or
// asked for them once through the credentials dialog. Returns 1 for a complete body, 0 for any
// failure (logged).
// With pState, a body that an earlier call with the same state left part of in the block is
// continued from where it broke, and pState is told of the bytes as they arrive; a stop that pState
// carries ends the download between two reads; without it every call asks for a whole body. An
// unattended pState answers a 407 with a failure instead of the dialog.
int HttpDownload(const WCHAR* lpUrl, BYTE** ppBuffer, int* pnLength, int* pnCapacity, WCHAR szProxyUser[64],
    WCHAR szProxyPassword[64], HWND hWndOwner, CDownloadState* pState = nullptr);
