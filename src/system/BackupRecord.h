#pragma once
#include <windows.h>

// While a run installs, the previous installation waits in a folder beside the install folder. The
// run notes both folders here, under HKEY_LOCAL_MACHINE, which only administrators may write: a run
// that was killed is undone at the next start from this record alone, so that a folder somebody
// else made beside the install folder is never taken for the previous installation.
inline constexpr WCHAR g_szSetupStateKey[] = L"SOFTWARE\\Corvane\\Mirevale Setup";

// False when the record could not be written (no administrator rights, for one).
bool WriteBackupRecord(const WCHAR* pszFolder, const WCHAR* pszBackup);
// False when there is no complete record.
bool ReadBackupRecord(WCHAR (&szFolder)[MAX_PATH], WCHAR (&szBackup)[MAX_PATH]);
void ClearBackupRecord();
