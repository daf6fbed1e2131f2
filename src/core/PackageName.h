#pragma once
#include <windows.h>

// Whether a manifest name, written after the temporary folder and a backslash, names a file inside
// that folder: not empty, no colon (a drive or a stream), no leading separator, no component of dots
// alone that climbs out ("..", "...", ". ."), and no device name (CON, NUL, COM1.zip, ...). A name with
// a folder part stays acceptable: it names a file in a sub-folder, which nobody creates.
bool IsNameInsideFolder(const WCHAR* pszName);
