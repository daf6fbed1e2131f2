#include "ZipTestSupport.h"

#include "TestFiles.h"

static void ListInto(const std::wstring& strFolder, const std::wstring& strPrefix, std::set<std::wstring>& setPaths)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L"..")
            continue;
        bool bFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        setPaths.insert(strPrefix + strName + (bFolder ? L"\\" : L""));
        if (bFolder && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            ListInto(strFolder + L"\\" + strName, strPrefix + strName + L"\\", setPaths);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
}

std::set<std::wstring> ListTree(const std::wstring& strFolder)
{
    std::set<std::wstring> setPaths;
    ListInto(strFolder, L"", setPaths);
    return setPaths;
}

void RemoveTree(const std::wstring& strFolder)
{
    WIN32_FIND_DATAW data;
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::wstring strName = data.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            std::wstring strPath = strFolder + L"\\" + strName;
            SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                continue; // left for the test that made it
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                RemoveTree(strPath);
            else
                DeleteFileW(strPath.c_str());
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
    }
    SetFileAttributesW(strFolder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(strFolder.c_str());
}

bool WriteTextFile(const std::wstring& strPath, const std::string& strBytes)
{
    return WriteFileBytes(strPath, strBytes.data(), strBytes.size());
}

std::string ReadTextFile(const std::wstring& strPath)
{
    std::vector<BYTE> bytes = ReadFileBytes(strPath);
    return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::wstring& strPath)
{
    return GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
