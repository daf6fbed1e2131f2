#pragma once
#include <windows.h>

#include <string>

#include "support/Handles.h"

// Paths that lead where they say. The installer runs as an administrator on machines where other
// users may make folders at a drive's root and junctions without any privilege: nothing it writes
// may go through a link that someone else planted, and nothing it deletes may be redirected.

// The object's path as the system resolves it ("\\?\C:\..."): every link on the way followed. Empty
// when it cannot be told.
std::wstring FinalPath(HANDLE hEntry);

// hEntry is what pszPath (also in its "\\?\" form) names with no link on the way: its final path is
// the final path of the drive root of pszPath's full path followed by the rest of that path. A handle that
// holds a link itself leads where it says when the link sits where it is named.
bool LeadsWhereItSays(HANDLE hEntry, const WCHAR* pszPath);

// What the handle holds: its attributes (FILE_ATTRIBUTE_REPARSE_POINT for a link itself), or
// INVALID_FILE_ATTRIBUTES.
DWORD HeldAttributes(HANDLE hEntry);

// Removes the link at pszPath as the link itself, never what it points at: true when the handle held
// the link and it went. Where the system follows the link even then (Wine), nothing is deleted.
bool RemoveLinkItself(const WCHAR* pszPath);

// Makes pszFolder a real folder and holds it: a link found there goes as the link (or the call fails),
// a missing folder is created with the security psa gives (nullptr: the default); with bMakeNew one that
// is there already fails the call, as it may be someone else's (ERROR_ALREADY_EXISTS). The folder is then
// opened and confirmed on the handle: a folder, no link, leading where it says. The handle shares no
// deletion, so while it is open the folder cannot be renamed, removed or replaced by a link. An empty
// handle when any of that fails (last error set).
CFileHandle HoldRealFolder(const WCHAR* pszFolder, LPSECURITY_ATTRIBUTES psa, bool bMakeNew);

// How HoldRealFolder creates a folder: CreateDirectoryW. Wine keeps no security descriptors, so the
// tests put a recorder here to see the descriptor each folder is created with.
using CreateFolderFunction = BOOL(WINAPI*)(LPCWSTR pszFolder, LPSECURITY_ATTRIBUTES psa);
extern CreateFolderFunction g_pfnCreateFolder;

// pszFolder still names the folder hHeld holds, with no link on the way.
bool IsHeldFolder(HANDLE hHeld, const WCHAR* pszFolder);

// Deletes the file pszFile through a handle on which it was checked: a link goes as the link, a file only
// when it leads where it says. True when nothing of that name is left.
bool DeleteFileChecked(const WCHAR* pszFile);

// Deletes what hEntry (opened with DELETE access) holds, once every handle to it is closed.
bool DeleteThroughHandle(HANDLE hEntry);

// Creates pszFile new: anything of that name goes first (DeleteFileChecked), then CREATE_NEW with
// dwAccess, read sharing only and dwFlags; a file that was made through a link on the way is deleted
// again. An empty handle when the file is not a new one where it was named (last error set).
CFileHandle CreateFreshFile(const WCHAR* pszFile, DWORD dwAccess, DWORD dwFlags);

// Copies pszSource to a pszTarget made by CreateFreshFile: what had the target's name (a link, a second
// name of another file, a file someone else owns) goes first and is never written. A copy that fails
// is removed again.
bool CopyToFreshFile(const WCHAR* pszSource, const WCHAR* pszTarget);
