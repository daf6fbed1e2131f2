#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The product's names (g_szDisplayName and the file and folder names) are the shared rules'.
#include "core/rules/Names.h"

// Download base URL: an http:// URL of the server folder "/EX/", ending in "/"; a file's URL is this
// string followed directly by the file name. Built into the program, never changed while it runs.
extern const std::wstring g_strBaseUrl;

// Mirrors: further base URLs of the same form, in the order a failed download turns to them after
// g_strBaseUrl. Empty in a build without mirrors.
extern const std::vector<std::wstring> g_vecMirrorUrls;

// The base URLs in that order: g_strBaseUrl first.
inline size_t BaseUrlCount()
{
    return 1 + g_vecMirrorUrls.size();
}
inline const std::wstring& BaseUrlAt(size_t nIndex)
{
    return nIndex == 0 ? g_strBaseUrl : g_vecMirrorUrls[nIndex - 1];
}

// Public key of the release's owner: the 130 lowercase hex digits of its uncompressed P-256 point.
// Empty in a build that installs unsigned releases.
extern const std::wstring g_strReleaseKey;
