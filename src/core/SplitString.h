#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Splits the text at every occurrence of the separator into the array, in text order, dropping
// empty pieces. Returns the number of pieces.
int SplitString(const std::wstring& strText, WCHAR chSeparator, std::vector<std::wstring>& vecPieces);
