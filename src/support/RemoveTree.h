#pragma once
#include <windows.h>

#include <string>

// The "\\?\" form of a full path, which MAX_PATH does not limit ("\\?\UNC\" for a share): removals walk
// and delete in it, as the installer writes paths right up to that limit.
std::wstring LongPath(const std::wstring& strFull);
// A path as logs and messages show it: without the prefix that LongPath adds.
std::wstring ShownPath(const std::wstring& strLong);

// Removes strPath (a long path) with everything below it, deleting each entry through the handle on
// which it was checked, so that a link swapped in after the listing cannot redirect a delete. A
// junction or symbolic link goes as the link itself and only when the handle holds the link; nothing
// that the listing (dwListed) or the handle calls a link is entered, nor anything whose handle does
// not lead where its name says (where the system follows links, Wine, the handle holds their target).
// Read-only entries lose the attribute first. Leaves what it cannot delete.
void RemoveTree(const std::wstring& strPath, DWORD dwListed);

// An empty path, a bare drive ("C:", "C:\\", "\\") or anything whose full path is a root names no folder
// to remove: removing "everything below" it would empty a drive. Both programs refuse such a folder.
bool IsRootOrEmpty(const WCHAR* pszFolder);

enum class FolderRemoval { ABSENT, REMOVED, LEFT };

// Removes the folder at the full path strFull with everything below it (RemoveTree, in the long form:
// names beyond MAX_PATH go as well). strLong receives the long path it worked on.
FolderRemoval RemoveFolderTree(const std::wstring& strFull, std::wstring& strLong);
