#include "support/RemoveTree.h"

#include <shlwapi.h>

#include <cwchar>

#include "support/FileAttributes.h"
#include "support/Handles.h"
#include "support/RealPath.h"

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD OPEN_ITSELF = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// Opens the entry strPath itself, a link as the link where the system allows that; dwAttributes receives
// what the handle holds, which is what the removal goes by. The handle has no delete access, which
// would keep a folder from being listed (Wine); that comes with DeleteThrough.
CFileHandle OpenEntry(const std::wstring& strPath, DWORD& dwAttributes)
{
    CFileHandle entry(CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, SHARE_ALL, nullptr,
        OPEN_EXISTING, OPEN_ITSELF, nullptr));
    dwAttributes = entry ? HeldAttributes(entry.Get()) : INVALID_FILE_ATTRIBUTES;
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return CFileHandle();
    return entry;
}

// Deletes what hEntry holds, reopened from the handle rather than the path so that it is what was
// checked; a folder goes only when it is empty, and only once every handle to it is closed.
void DeleteThrough(HANDLE hEntry)
{
    CFileHandle deletable(ReOpenFile(hEntry, DELETE, SHARE_ALL, OPEN_ITSELF));
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (deletable)
        SetFileInformationByHandle(deletable.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

void ClearReadOnly(HANDLE hEntry, DWORD dwAttributes)
{
    if ((dwAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return;
    // Times of zero leave them as they are.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = AttributesWithoutReadOnly(dwAttributes);
    SetFileInformationByHandle(hEntry, FileBasicInfo, &basic, sizeof(basic));
}

void RemoveContents(const std::wstring& strFolder)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW((strFolder + L"\\*").c_str(), &data));
    if (!find)
        return;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            RemoveTree(strFolder + L"\\" + data.cFileName, data.dwFileAttributes);
    } while (FindNextFileW(find.Get(), &data));
}

} // namespace

std::wstring LongPath(const std::wstring& strFull)
{
    if (strFull.compare(0, 4, L"\\\\?\\") == 0)
        return strFull;
    if (strFull.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + strFull.substr(2);
    return L"\\\\?\\" + strFull;
}

std::wstring ShownPath(const std::wstring& strLong)
{
    if (strLong.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + strLong.substr(8);
    return strLong.compare(0, 4, L"\\\\?\\") == 0 ? strLong.substr(4) : strLong;
}

void RemoveTree(const std::wstring& strPath, DWORD dwListed)
{
    DWORD dwAttributes = 0;
    CFileHandle entry = OpenEntry(strPath, dwAttributes);
    if (!entry)
        return;
    bool bLink = (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((!bLink && (dwListed & FILE_ATTRIBUTE_REPARSE_POINT) != 0) || !LeadsWhereItSays(entry.Get(), strPath.c_str()))
        return;
    ClearReadOnly(entry.Get(), dwAttributes);
    if (!bLink && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        RemoveContents(strPath);
    DeleteThrough(entry.Get());
}

bool IsRootOrEmpty(const WCHAR* pszFolder)
{
    if (pszFolder == nullptr)
        return true;
    size_t cch = wcslen(pszFolder);
    while (cch > 0 && (pszFolder[cch - 1] == L'\\' || pszFolder[cch - 1] == L'/'))
        --cch;
    // "C:" as written, although its full path is the current folder.
    if (cch == 0 || (cch == 2 && pszFolder[1] == L':'))
        return true;
    DWORD cchFull = GetFullPathNameW(pszFolder, 0, nullptr, nullptr);
    std::wstring strFull(cchFull, L'\0');
    if (cchFull == 0 || GetFullPathNameW(pszFolder, cchFull, &strFull[0], nullptr) + 1 != cchFull)
        return true;
    strFull.resize(cchFull - 1);
    return PathIsRootW(strFull.c_str()) != FALSE;
}

FolderRemoval RemoveFolderTree(const std::wstring& strFull, std::wstring& strLong)
{
    strLong = LongPath(strFull);
    DWORD dwAttributes = GetFileAttributesW(strLong.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return FolderRemoval::ABSENT;
    RemoveTree(strLong, dwAttributes);
    return GetFileAttributesW(strLong.c_str()) == INVALID_FILE_ATTRIBUTES ? FolderRemoval::REMOVED : FolderRemoval::LEFT;
}
