#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Small file helpers shared by the unit tests.

// A new, empty folder under the Windows temporary folder, unique per call.
std::wstring MakeTempFolder(const std::wstring& strTag);
std::vector<BYTE> ReadFileBytes(const std::wstring& strPath);
bool WriteFileBytes(const std::wstring& strPath, const void* pData, size_t cb);
// Bytes as UTF-16LE code units (an odd last byte is dropped).
std::wstring Utf16(const std::vector<BYTE>& bytes);
// For failure messages.
std::string Narrow(const std::wstring& str);
