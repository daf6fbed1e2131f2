#pragma once
#include <windows.h>

#include <string>

// Download base URL: an http:// URL of the server folder "/EX/", ending in "/"; a file's URL is this
// string followed directly by the file name. Built into the program, never changed while it runs.
extern const std::wstring g_strBaseUrl;

// Public key of the release's owner: the 130 lowercase hex digits of its uncompressed P-256 point.
// Empty in a build that installs unsigned releases.
extern const std::wstring g_strReleaseKey;

// Product display name: uninstall entry, Start-menu folder and shortcut names.
inline constexpr WCHAR g_szDisplayName[] = L"Mirevale";
