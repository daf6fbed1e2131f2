#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Rules of the uninstaller that need no window, file system or registry.

// What UnInstall.exe was started with. The uninstall entry and the Start-menu link give the install
// folder in double quotes as the only argument; without one the registered folder is meant. The copy
// that continues from the temporary folder also gets "/wait=<handle>": the inherited handle of the
// process that started it, whose own file must be closed before the folder can go. "/S", anywhere on
// the line, asks for a silent run: no window, no question, the outcome in the exit code.
struct UninstallArguments {
    bool bValid = false;
    bool bHasFolder = false;
    std::wstring strFolder;
    UINT_PTR nWaitHandle = 0;
    bool bSilent = false;
};

// pszArguments is the command line without the program's name. A quoted argument runs to the next
// double quote with no escapes (a path holds none), so "C:\Larkspire\" keeps its backslash. Anything
// beyond one folder, one "/wait=" and one "/S" makes the arguments invalid; bSilent still tells whether
// a "/S" stood among them, so that even that refusal shows no window.
UninstallArguments ParseUninstallArguments(const WCHAR* pszArguments);

// The command line after the program's name, as the system's own command-line splitting sees it.
const WCHAR* SkipProgramName(const WCHAR* pszCommandLine);

// "\" separators, runs of separators collapsed, no trailing separator: the form in which folders are
// compared and shown. A drive root keeps its backslash ("C:\").
std::wstring CanonicalFolder(const std::wstring& strPath);

// Same folder, letter case aside, however the separators are written.
bool SameFolder(const std::wstring& strA, const std::wstring& strB);

// True when strPath names something below strFolder. A path with "." or ".." segments never counts:
// C:\Larkspire\..\Windows is not inside C:\Larkspire, and a name that merely starts like the folder
// (C:\Larkspire2) is not either.
bool IsInsideFolder(const std::wstring& strPath, const std::wstring& strFolder);

// "X:\" for a path on drive X:, otherwise "C:\": the root whose "temp" folder receives the log and the
// uninstaller's copy, beside the installer's own.
std::wstring DriveRootOf(const std::wstring& strPath);

// The message that ends an uninstallation: done, or the paths that could not be removed, at most
// nMaxListed of them by name and then how many more, so that the box stays on the screen.
std::wstring FinalMessage(const std::vector<std::wstring>& vecLeft, size_t nMaxListed = 10);
