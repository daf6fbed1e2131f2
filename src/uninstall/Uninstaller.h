#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The uninstaller's work on the file system, the shell links and the registry; the window side (the
// questions and messages) lives with the application object.

enum class FolderVerdict {
    Accepted,
    RootOrEmpty, // an empty path or a drive root
    NotRegistered, // no uninstall entry, or one without InstallLocation
    NotRegisteredFolder, // another folder than the entry's InstallLocation
    NotAFolder, // missing, a file, or a junction or symbolic link
    NoClient, // iQorRemote.exe is not in it
};

// Whether pszFolder may be removed: as a full path it is the registered install folder pszRegistered,
// no drive root, a real folder and it holds the client. szFull receives the full path without a
// trailing backslash, the form every later step works on.
FolderVerdict CheckInstallFolder(const WCHAR* pszFolder, const WCHAR* pszRegistered, WCHAR (&szFull)[MAX_PATH]);
const WCHAR* VerdictName(FolderVerdict verdict);

// InstallLocation of the uninstall entry; false (and an empty buffer) when there is none.
bool ReadInstallLocation(WCHAR (&szFolder)[MAX_PATH]);
// Deletes the uninstall entry with anything below it; true when it is gone (or was never there).
bool DeleteUninstallEntry();

enum class LinkResult { Missing, Removed, KeptElsewhere, Failed };
// Deletes the shortcut pszLink when the program it starts lies inside pszFolder; one that starts
// anything else (or cannot be read) is the user's and stays. The caller has initialised COM.
LinkResult RemoveLinkInto(const WCHAR* pszLink, const WCHAR* pszFolder);

// The desktop link and the Start-menu folder with its two links, where they point into pszFolder; the
// Start-menu folder goes only when nothing else is left in it. Links that should go but cannot are
// added to vecLeft.
void RemoveShortcuts(const WCHAR* pszFolder, std::vector<std::wstring>& vecLeft);

// Removes pszFolder with everything in it, read-only files and paths beyond MAX_PATH included, without
// entering junctions or symbolic links, and returns what is left: files that could not be deleted, links
// that stay, folders that stay although empty. The folder itself is listed only when nothing inside
// explains why it stays; an empty path or a drive root is refused and listed as it is.
std::vector<std::wstring> RemoveInstallFolder(const WCHAR* pszFolder);

// Moves the running program's own file into pszTempFolder, where it goes at the next start of the
// system: the file of a running program can be moved but not deleted, and it would keep the install
// folder from going. True when it was moved.
bool MoveProgramToTemp(const WCHAR* pszTempFolder);

// Copies the running program into pszTempFolder and starts the copy with the quoted folder and
// "/wait=" with an inherited handle of this process, working in pszTempFolder. True when the copy runs;
// this process should then end at once.
bool StartCopyFromTemp(const WCHAR* pszFolder, const WCHAR* pszTempFolder);
