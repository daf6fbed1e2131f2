#pragma once
#include <windows.h>

#include <set>
#include <string>

// Folder helpers for the extraction tests.

// Every file and folder below the folder, as relative paths with "\" (folders end in "\").
std::set<std::wstring> ListTree(const std::wstring& strFolder);
// Removes the tree whatever its attributes; links are removed, never entered.
void RemoveTree(const std::wstring& strFolder);
bool WriteTextFile(const std::wstring& strPath, const std::string& strBytes);
std::string ReadTextFile(const std::wstring& strPath);
bool Exists(const std::wstring& strPath);
