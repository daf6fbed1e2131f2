#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The product's names (g_szDisplayName and the file and folder names) are the shared rules'.
#include "core/rules/Names.h"
#include "core/rules/Text.h"
#include "support/WideText.h"

// Download base URL: an http:// URL of the server folder "/EX/", ending in "/"; a file's URL is this
// string followed directly by the file name. Built into the program, never changed while it runs.
extern const std::wstring g_strBaseUrl;

// Mirrors: further base URLs of the same form, in the order a failed download turns to them after
// g_strBaseUrl. Empty in a build without mirrors.
extern const std::vector<std::wstring> g_vecMirrorUrls;

// The mirrors as a build or a test gives them: one text, blank between two URLs (none has a blank).
inline std::vector<std::wstring> SplitMirrorUrls(const std::wstring& strText)
{
    std::vector<std::wstring> vecUrls;
    for (const std::u16string& strUrl : SplitString(ToU16(strText), u' '))
        vecUrls.push_back(FromU16(strUrl));
    return vecUrls;
}

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
