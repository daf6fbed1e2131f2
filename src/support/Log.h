#pragma once
#include <windows.h>

#include <cstdarg>

// The diagnostic log: one record per call, to the debugger output and appended to g_szLogPath.

enum { LOG_LEVEL_ERROR = 0, LOG_LEVEL_NORMAL = 1, LOG_LEVEL_COUNT = 11 };

// Empty until the install location is fixed; records then reach only the debugger output.
extern WCHAR g_szLogPath[MAX_PATH];

void LogError(const WCHAR* pszFormat, ...);
void LogNormal(const WCHAR* pszFormat, ...);
void LogWriteV(int nLevel, const WCHAR* pszFormat, va_list args);
void AppendLogFile(const WCHAR* pszPath, const WCHAR* pszText);
