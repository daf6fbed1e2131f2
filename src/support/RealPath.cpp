#include "support/RealPath.h"

#include <cstddef>
#include <cwchar>
#include <vector>

#include "support/FileWrite.h"

CreateFolderFunction g_pfnCreateFolder = CreateDirectoryW;

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens the entry itself, a folder as well as a file, a link as the link where the system allows it.
const DWORD OPEN_ITSELF = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// Length of the drive root at the start of pszPath ("C:\", "\\?\C:\", "\\server\share\",
// "\\?\UNC\server\share\"); 0 when it starts with none of them.
size_t RootLength(const WCHAR* pszPath)
{
    size_t cchPrefix = wcsncmp(pszPath, L"\\\\?\\", 4) == 0 ? 4 : 0;
    const WCHAR* psz = pszPath + cchPrefix;
    if (iswalpha(psz[0]) && psz[1] == L':' && psz[2] == L'\\')
        return cchPrefix + 3;
    size_t cchShare = 0;
    if (cchPrefix == 4 && _wcsnicmp(psz, L"UNC\\", 4) == 0)
        cchShare = 4;
    else if (cchPrefix == 0 && wcsncmp(psz, L"\\\\", 2) == 0)
        cchShare = 2;
    else
        return 0;
    // Server and share, each followed by a backslash.
    const WCHAR* pszServerEnd = wcschr(psz + cchShare, L'\\');
    const WCHAR* pszShareEnd = pszServerEnd != nullptr ? wcschr(pszServerEnd + 1, L'\\') : nullptr;
    if (pszServerEnd == nullptr || pszServerEnd == psz + cchShare || pszShareEnd == nullptr
        || pszShareEnd == pszServerEnd + 1)
        return 0;
    return static_cast<size_t>(pszShareEnd - pszPath) + 1;
}

// The serial number of the volume the handle's object is on, and its path on that volume ("\users\...").
bool VolumeAndPath(HANDLE hEntry, DWORD& dwVolume, std::wstring& strPath)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hEntry, &info))
        return false;
    dwVolume = info.dwVolumeSerialNumber;
    std::vector<BYTE> name(sizeof(FILE_NAME_INFO) + 32768 * sizeof(WCHAR));
    if (!GetFileInformationByHandleEx(hEntry, FileNameInfo, name.data(), static_cast<DWORD>(name.size())))
        return false;
    const FILE_NAME_INFO* pName = reinterpret_cast<const FILE_NAME_INFO*>(name.data());
    if (pName->FileNameLength > name.size() - offsetof(FILE_NAME_INFO, FileName))
        return false;
    strPath.assign(pName->FileName, pName->FileNameLength / sizeof(WCHAR));
    return true;
}

std::wstring WithoutTrailingSeparator(std::wstring str)
{
    while (!str.empty() && str.back() == L'\\')
        str.pop_back();
    return str;
}

bool SetDeleteDisposition(HANDLE hEntry)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(hEntry, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

} // namespace

static bool LeadsWhereItSaysFull(HANDLE hEntry, const WCHAR* pszFull);

std::wstring FinalPath(HANDLE hEntry)
{
    std::wstring str(MAX_PATH, L'\0');
    for (;;) {
        DWORD cch = GetFinalPathNameByHandleW(hEntry, &str[0], static_cast<DWORD>(str.size()), VOLUME_NAME_DOS);
        if (cch == 0)
            return std::wstring();
        if (cch < str.size()) {
            str.resize(cch);
            return str;
        }
        str.resize(cch + 1);
    }
}

bool LeadsWhereItSays(HANDLE hEntry, const WCHAR* pszPath)
{
    // In full form first: separators, doubled ones and dots as the system reads them. A "\\?\" path is
    // full as it is, and may be longer than the system's full-path rules take.
    if (wcsncmp(pszPath, L"\\\\?\\", 4) == 0)
        return LeadsWhereItSaysFull(hEntry, pszPath);
    DWORD cchFull = GetFullPathNameW(pszPath, 0, nullptr, nullptr);
    if (cchFull == 0)
        return false;
    std::wstring strFull(cchFull, L'\0');
    cchFull = GetFullPathNameW(pszPath, cchFull, &strFull[0], nullptr);
    if (cchFull == 0 || cchFull >= strFull.size())
        return false;
    strFull.resize(cchFull);
    return LeadsWhereItSaysFull(hEntry, strFull.c_str());
}

static bool LeadsWhereItSaysFull(HANDLE hEntry, const WCHAR* pszFull)
{
    size_t cchRoot = RootLength(pszFull);
    if (cchRoot == 0)
        return false;
    std::wstring strRoot(pszFull, cchRoot);
    CFileHandle root(CreateFileW(
        strRoot.c_str(), FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!root)
        return false;
    std::wstring strRootFinal = FinalPath(root.Get());
    std::wstring strFinal = FinalPath(hEntry);
    if (strRootFinal.empty() || strFinal.empty()) {
        // Wine gives no final path past MAX_PATH (ERROR_MORE_DATA whatever the buffer): the volume and
        // the path on it tell the same.
        DWORD dwRootVolume = 0;
        DWORD dwVolume = 0;
        if (!VolumeAndPath(root.Get(), dwRootVolume, strRootFinal) || !VolumeAndPath(hEntry, dwVolume, strFinal)
            || dwRootVolume != dwVolume)
            return false;
    }
    // The root's final path names a subst drive's folder as well as a plain drive.
    std::wstring strExpected = WithoutTrailingSeparator(strRootFinal) + L"\\" + (pszFull + cchRoot);
    return _wcsicmp(WithoutTrailingSeparator(strExpected).c_str(), WithoutTrailingSeparator(strFinal).c_str()) == 0;
}

DWORD HeldAttributes(HANDLE hEntry)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(hEntry, FileAttributeTagInfo, &tag, sizeof(tag)))
        return INVALID_FILE_ATTRIBUTES;
    return tag.FileAttributes;
}

bool RemoveLinkItself(const WCHAR* pszPath)
{
    CFileHandle link(
        CreateFileW(pszPath, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_ITSELF, nullptr));
    if (!link)
        return false;
    DWORD dwHeld = HeldAttributes(link.Get());
    if (dwHeld == INVALID_FILE_ATTRIBUTES || (dwHeld & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        SetLastError(ERROR_REPARSE_TAG_MISMATCH);
        return false;
    }
    return SetDeleteDisposition(link.Get());
}

CFileHandle HoldRealFolder(const WCHAR* pszFolder, LPSECURITY_ATTRIBUTES psa, bool bMakeNew)
{
    DWORD dwListed = GetFileAttributesW(pszFolder);
    if (dwListed != INVALID_FILE_ATTRIBUTES && (dwListed & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!RemoveLinkItself(pszFolder))
            return CFileHandle();
        dwListed = INVALID_FILE_ATTRIBUTES;
    }
    if (dwListed != INVALID_FILE_ATTRIBUTES && bMakeNew) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return CFileHandle();
    }
    if (dwListed == INVALID_FILE_ATTRIBUTES && !g_pfnCreateFolder(pszFolder, psa)
        && (bMakeNew || GetLastError() != ERROR_ALREADY_EXISTS))
        return CFileHandle();
    CFileHandle folder(CreateFileW(pszFolder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, OPEN_ITSELF, nullptr));
    if (!folder)
        return CFileHandle();
    if (!IsHeldFolder(folder.Get(), pszFolder)) {
        SetLastError(ERROR_REPARSE_TAG_MISMATCH);
        return CFileHandle();
    }
    return folder;
}

bool IsHeldFolder(HANDLE hHeld, const WCHAR* pszFolder)
{
    DWORD dwHeld = HeldAttributes(hHeld);
    DWORD dwListed = GetFileAttributesW(pszFolder);
    if (dwHeld == INVALID_FILE_ATTRIBUTES || (dwHeld & FILE_ATTRIBUTE_DIRECTORY) == 0
        || (dwHeld & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || dwListed == INVALID_FILE_ATTRIBUTES
        || (dwListed & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    // The name may have been given to another folder since the handle was opened.
    CFileHandle named(
        CreateFileW(pszFolder, FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_ITSELF, nullptr));
    BY_HANDLE_FILE_INFORMATION held = {};
    BY_HANDLE_FILE_INFORMATION now = {};
    if (!named || !GetFileInformationByHandle(hHeld, &held) || !GetFileInformationByHandle(named.Get(), &now))
        return false;
    return held.dwVolumeSerialNumber == now.dwVolumeSerialNumber && held.nFileIndexHigh == now.nFileIndexHigh
        && held.nFileIndexLow == now.nFileIndexLow && LeadsWhereItSays(hHeld, pszFolder);
}

bool DeleteFileChecked(const WCHAR* pszFile)
{
    CFileHandle entry(
        CreateFileW(pszFile, DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_ITSELF, nullptr));
    if (!entry)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    DWORD dwHeld = HeldAttributes(entry.Get());
    bool bLink = dwHeld != INVALID_FILE_ATTRIBUTES && (dwHeld & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    bool bFile = dwHeld != INVALID_FILE_ATTRIBUTES && (dwHeld & FILE_ATTRIBUTE_DIRECTORY) == 0;
    // A handle that followed a link holds what the link points at: that is not this name's to delete.
    if ((!bLink && !bFile) || !LeadsWhereItSays(entry.Get(), pszFile)) {
        SetLastError(ERROR_REPARSE_TAG_MISMATCH);
        return false;
    }
    if ((dwHeld & FILE_ATTRIBUTE_READONLY) != 0) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        CFileHandle writable(ReOpenFile(entry.Get(), FILE_WRITE_ATTRIBUTES, SHARE_ALL, OPEN_ITSELF));
        if (writable)
            SetFileInformationByHandle(writable.Get(), FileBasicInfo, &basic, sizeof(basic));
    }
    return SetDeleteDisposition(entry.Get());
}

bool DeleteThroughHandle(HANDLE hEntry)
{
    return SetDeleteDisposition(hEntry);
}

CFileHandle CreateFreshFile(const WCHAR* pszFile, DWORD dwAccess, DWORD dwFlags)
{
    if (!DeleteFileChecked(pszFile))
        return CFileHandle();
    CFileHandle file(CreateFileW(pszFile, dwAccess | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | dwFlags, nullptr));
    if (!file)
        return CFileHandle();
    if (!LeadsWhereItSays(file.Get(), pszFile)) {
        // Made through a link on the way: it was never meant to be there.
        SetDeleteDisposition(file.Get());
        SetLastError(ERROR_REPARSE_TAG_MISMATCH);
        return CFileHandle();
    }
    return file;
}

bool CopyToFreshFile(const WCHAR* pszSource, const WCHAR* pszTarget)
{
    CFileHandle source(CreateFileW(pszSource, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source)
        return false;
    CFileHandle target = CreateFreshFile(pszTarget, GENERIC_WRITE, 0);
    if (!target)
        return false;
    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
        DWORD cbRead = 0;
        bool bRead
            = ReadFile(source.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &cbRead, nullptr) != FALSE;
        if (bRead && cbRead == 0)
            return true;
        if (!bRead || !WriteAll(target.Get(), buffer.data(), cbRead)) {
            DWORD dwError = GetLastError();
            SetDeleteDisposition(target.Get());
            SetLastError(dwError);
            return false;
        }
    }
}
