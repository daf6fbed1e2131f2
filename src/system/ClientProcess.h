#pragma once
#include <windows.h>

// Detection and start of the installed client program.

// True when a running process has exactly the program path pszFolder + "\" + pszExeName (letter case
// aside). Logs "[FindProcess] Path=%s" for every process of that file name it can open. Callers pass
// the folder without a trailing backslash. False whenever it cannot tell.
bool FindProcess(const WCHAR* pszExeName, const WCHAR* pszFolder);

// Enables SeDebugPrivilege in the installer's own token, so that processes of other users and of
// services can be opened. True when the adjustment call succeeded, even if the user lacks the privilege.
bool EnableDebugPrivilege();

// Starts pszSetupPath\iQorRemote.exe through the shell with the install folder as working folder.
// A client that cannot be started is neither shown nor logged.
void StartClient(const WCHAR* pszSetupPath);
