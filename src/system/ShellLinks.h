#pragma once
#include <windows.h>

// Shortcut files made through the shell-link component (CLSID_ShellLink, IShellLinkW, IPersistFile).

// Fills szFolder with the current user's Desktop folder (bAllUsers: the public one, which every user's
// desktop shows) from the Shell Folders key. False when the key cannot be opened; a missing, unusable
// or too long value leaves the buffer as the caller prepared it.
bool ReadDesktopFolder(WCHAR (&szFolder)[MAX_PATH], bool bAllUsers = false);

// In place: "\" becomes "/", a run of separators becomes its last one (a leading pair, as in a
// network path, stays two), then a trailing "/" is added (bTrailingSlash) or one is removed. An empty
// path stays empty; a "/" that would not fit into cchPath units is not added. Returns pszPath.
WCHAR* NormalizeSlashes(WCHAR* pszPath, size_t cchPath, bool bTrailingSlash);

// Deletes at most one older shortcut in pszFolder (ending with "/") that starts pszTarget under another
// name than pszName + ".lnk". The caller has initialised COM.
void RemoveDuplicateLink(const WCHAR* pszFolder, const WCHAR* pszTarget, const WCHAR* pszName);

// Saves szFolder + pszName + ".lnk". szFolder is normalised and the link's file name appended to it,
// so a caller that needs the folder again forms it anew. An empty folder makes no shortcut; a null or
// empty pszArguments means no arguments. Initialises COM for the calling thread around its work.
void CreateShellLink(const WCHAR* pszName, const WCHAR* pszWorkDir, const WCHAR* pszTarget, const WCHAR* pszIcon,
    WCHAR (&szFolder)[MAX_PATH], const WCHAR* pszArguments);

// The same in the current user's Desktop folder (bAllUsers: the public one), with no arguments.
void CreateDesktopLink(
    const WCHAR* pszName, const WCHAR* pszWorkDir, const WCHAR* pszTarget, const WCHAR* pszIcon, bool bAllUsers);

// The all-users Start-menu folder named after the product, holding the client shortcut and the
// uninstaller shortcut, both for the install folder pszSetupPath. Returns 1 when it went on to create
// them, 0 when the Start-menu programs folder was not found.
int CreateStartMenuLinks(const WCHAR* pszSetupPath);
