#include "system/BackupRecord.h"

#include <cwchar>

#include "support/Handles.h"

namespace {

const WCHAR FOLDER_VALUE[] = L"InstallFolder";
const WCHAR BACKUP_VALUE[] = L"PreviousInstallation";

bool SetText(HKEY hKey, const WCHAR* pszName, const WCHAR* pszText)
{
    DWORD cb = static_cast<DWORD>((wcslen(pszText) + 1) * sizeof(WCHAR));
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszText), cb) == ERROR_SUCCESS;
}

// A complete string that fits; registry data need not be zero-terminated.
bool GetText(HKEY hKey, const WCHAR* pszName, WCHAR (&szText)[MAX_PATH])
{
    DWORD cb = sizeof(szText);
    return RegGetValueW(hKey, nullptr, pszName, RRF_RT_REG_SZ, nullptr, szText, &cb) == ERROR_SUCCESS
        && szText[0] != L'\0';
}

} // namespace

bool WriteBackupRecord(const WCHAR* pszFolder, const WCHAR* pszBackup)
{
    CRegKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, g_szSetupStateKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
            nullptr, key.Put(), nullptr)
        != ERROR_SUCCESS)
        return false;
    return SetText(key.Get(), FOLDER_VALUE, pszFolder) && SetText(key.Get(), BACKUP_VALUE, pszBackup)
        && RegFlushKey(key.Get()) == ERROR_SUCCESS;
}

bool ReadBackupRecord(WCHAR (&szFolder)[MAX_PATH], WCHAR (&szBackup)[MAX_PATH])
{
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szSetupStateKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return false;
    return GetText(key.Get(), FOLDER_VALUE, szFolder) && GetText(key.Get(), BACKUP_VALUE, szBackup);
}

void ClearBackupRecord()
{
    CRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_szSetupStateKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key.Get(), BACKUP_VALUE);
    RegDeleteValueW(key.Get(), FOLDER_VALUE);
    RegFlushKey(key.Get());
}
