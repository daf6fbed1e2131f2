#pragma once
#include <windows.h>

// Writes all cb bytes at the file's position. A write that stops short (a drive filling up: the
// system may write what fits and report success) is continued with the rest, so that the write that
// fails tells why. False with that write's last error; one that succeeds with nothing written is a
// full drive (ERROR_DISK_FULL).
bool WriteAll(HANDLE hFile, const void* pvData, DWORD cb);
