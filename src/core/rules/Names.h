#pragma once
#include <cstddef>
#include <string>

// Rules of names: the product's own, and which names Windows and the installer take where.

// The product's file and folder names, as narrow literals so that each program can make its own kind
// of string of them ("L" NAME, u"" NAME).
#define CLIENT_PROGRAM_NAME "iQorRemote.exe"
#define INSTALL_FOLDER_NAME "Larkspire"

// Product display name: uninstall entry, Start-menu folder and shortcut names.
inline constexpr wchar_t g_szDisplayName[] = L"Mirevale";

// The installer forms every path in a buffer of this many UTF-16 units, its terminating zero included.
const size_t PATH_BUFFER_UNITS = 260;

// Names Windows opens as a device whatever the extension: CON, PRN, AUX, NUL, CONIN$, CONOUT$, and
// COM or LPT with a digit 1 to 9 or a superscript one to three. What counts is the part before the
// first dot, trailing blanks dropped, in any letter case.
bool IsDeviceName(const std::u16string& strComponent);

// Whether a manifest name, written after the temporary folder and a backslash, names a file inside
// that folder: not empty, no colon (a drive or a stream), no leading separator, no component of dots
// alone that climbs out ("..", "...", ". ."), and no device name. A name with a folder part stays
// acceptable: it names a file in a sub-folder, which nobody creates.
bool IsNameInsideFolder(const char16_t* pszName);
