#pragma once
#include <windows.h>

#include <string>

// Download base URL: an http:// URL of the server folder "/EX/", ending in "/"; a file's URL is this
// string followed directly by the file name. Built into the program, never changed while it runs.
extern const std::wstring g_strBaseUrl;

// Product display name: uninstall entry, Start-menu folder and shortcut names.
inline constexpr WCHAR g_szDisplayName[] = L"Mirevale";
