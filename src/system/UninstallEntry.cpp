#include "system/UninstallEntry.h"

#include <cwchar>

#include "app/Globals.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "system/SystemPaths.h"

namespace {

const WCHAR s_szOrigin[] = L"[CSetupDlg::WriteRegistry]";

// The data includes the terminating zero: readers that trust the byte length still get a proper string.
void SetStringValue(HKEY hKey, const WCHAR* pszName, const WCHAR* pszValue)
{
    DWORD cb = static_cast<DWORD>((wcslen(pszValue) + 1) * sizeof(WCHAR));
    RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue), cb);
}

} // namespace

void WriteUninstallEntry(const WCHAR* pszSetupPath, const WCHAR* pszUnInstallPath, PFN_REG_OPEN_KEY pfnOpenKey)
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
    if (FormatPath(szValue, s_szOrigin, L"%s\\iQorRemote.exe", pszSetupPath))
        SetStringValue(entryKey.Get(), L"DisplayIcon", szValue);
    SetStringValue(entryKey.Get(), L"AppExePath", L"iQorRemote.exe");
    SetStringValue(entryKey.Get(), L"DisplayName", g_szDisplayName);
    SetStringValue(entryKey.Get(), L"Publisher", g_szDisplayName);
    SetStringValue(entryKey.Get(), L"DisplayVersion", L"2.0");
    if (FormatPath(szValue, s_szOrigin, L"%s\\", pszSetupPath))
        SetStringValue(entryKey.Get(), L"InstallLocation", szValue);

    if (FormatPath(szValue, s_szOrigin, L"\"%s\\UnInstall.exe\" \"%s\"", pszSetupPath, pszSetupPath)) {
        LogNormal(L"[CSetupDlg::WriteRegistry] UninstallString %s m_szUnInstallPath=%s", szValue, pszUnInstallPath);
        SetStringValue(entryKey.Get(), L"UninstallString", szValue);
    }
}
