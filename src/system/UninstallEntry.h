#pragma once
#include <windows.h>

// Where the entry lives: subkey g_szUninstallEntry of g_szUninstallKey under HKEY_LOCAL_MACHINE.
inline constexpr WCHAR g_szUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr WCHAR g_szUninstallEntry[] = L"Corvane Client";

// The signature of RegOpenKeyExW, so that tests can stand in for a key the user may not open.
using PFN_REG_OPEN_KEY = LSTATUS(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);

// Enters the client in the machine's list of installed programs (HKLM ...\Uninstall\Corvane Client):
// seven REG_SZ values formed from the install folder; pszUnInstallPath only appears in the log. With a
// nReleaseSerial above 0 also "ReleaseSerial", the serial of the signed release installed.
// Without write access to the Uninstall key nothing is written or logged and the run goes on.
void WriteUninstallEntry(const WCHAR* pszSetupPath, const WCHAR* pszUnInstallPath, long long nReleaseSerial = 0,
    PFN_REG_OPEN_KEY pfnOpenKey = RegOpenKeyExW);

// The "ReleaseSerial" of the entry: 0 without an entry, without the value (a release from before
// serials, or an unsigned one), or with one that is no decimal number above 0.
long long ReadInstalledReleaseSerial();
