#include "system/UninstallEntry.h"

#include <cwchar>

#include "support/Handles.h"
#include "support/Format.h"
#include "support/Log.h"
#include "system/SystemPaths.h"
#include "core/rules/Names.h"

namespace {

const WCHAR s_szOrigin[] = L"[CSetupDlg::WriteRegistry]";
const WCHAR RELEASE_SERIAL_VALUE[] = L"ReleaseSerial";

// The data includes the terminating zero: readers that trust the byte length still get a proper string.
void SetStringValue(HKEY hKey, const WCHAR* pszName, const WCHAR* pszValue)
{
    DWORD cb = static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(WCHAR));
    RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue), cb);
}

} // namespace

void WriteUninstallEntry(
    const WCHAR* pszSetupPath, const WCHAR* pszUnInstallPath, long long nReleaseSerial, PFN_REG_OPEN_KEY pfnOpenKey)
{
    if (pszSetupPath == nullptr || pszSetupPath[0] == L'\0')
        return;
    if (pszUnInstallPath == nullptr)
        pszUnInstallPath = L"";

    CRegKey uninstallKey;
    if (pfnOpenKey(HKEY_LOCAL_MACHINE, g_szUninstallKey, 0, KEY_WRITE, uninstallKey.Put()) != ERROR_SUCCESS)
        return;
    CRegKey entryKey;
    if (RegCreateKeyExW(uninstallKey.Get(), g_szUninstallEntry, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
            entryKey.Put(), nullptr)
        != ERROR_SUCCESS)
        return;

    WCHAR szValue[MAX_PATH] = {};
    if (FormatPath(szValue, s_szOrigin, L"%s\\" CLIENT_PROGRAM_NAME, pszSetupPath))
        SetStringValue(entryKey.Get(), L"DisplayIcon", szValue);
    SetStringValue(entryKey.Get(), L"AppExePath", L"" CLIENT_PROGRAM_NAME);
    SetStringValue(entryKey.Get(), L"DisplayName", g_szDisplayName);
    SetStringValue(entryKey.Get(), L"Publisher", g_szDisplayName);
    SetStringValue(entryKey.Get(), L"DisplayVersion", L"2.0");
    if (FormatPath(szValue, s_szOrigin, L"%s\\", pszSetupPath))
        SetStringValue(entryKey.Get(), L"InstallLocation", szValue);

    if (FormatPath(szValue, s_szOrigin, L"\"%s\\UnInstall.exe\" \"%s\"", pszSetupPath, pszSetupPath)) {
        LogNormal(L"[CSetupDlg::WriteRegistry] UninstallString %s m_szUnInstallPath=%s", szValue, pszUnInstallPath);
        SetStringValue(entryKey.Get(), L"UninstallString", szValue);
    }
    if (nReleaseSerial > 0 && Format(szValue, ARRAYSIZE(szValue), L"%I64d", nReleaseSerial))
        SetStringValue(entryKey.Get(), RELEASE_SERIAL_VALUE, szValue);
}

long long ReadInstalledReleaseSerial()
{
    WCHAR szKey[MAX_PATH];
    WCHAR szValue[32] = {};
    DWORD cbValue = sizeof(szValue) - sizeof(WCHAR); // the data need not end in a zero
    if (!Format(szKey, ARRAYSIZE(szKey), L"%s\\%s", g_szUninstallKey, g_szUninstallEntry)
        || RegGetValueW(HKEY_LOCAL_MACHINE, szKey, RELEASE_SERIAL_VALUE, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, szValue,
               &cbValue)
            != ERROR_SUCCESS)
        return 0;
    long long nSerial = 0;
    for (const WCHAR* psz = szValue; *psz != L'\0'; ++psz) {
        // No more digits than a serial of the signed list has (18): no overflow.
        if (*psz < L'0' || *psz > L'9' || psz - szValue >= 18)
            return 0;
        nSerial = nSerial * 10 + (*psz - L'0');
    }
    return nSerial;
}
