#include "core/ZipLayer.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "core/SetupExitCodes.h"
#include "core/ZipLayerRules.h"
#include "core/ZipMemory.h"
#include "core/rules/ZipItems.h"
#include "support/FileAttributes.h"
#include "support/FileWrite.h"
#include "support/Format.h"
#include "support/Handles.h"
#include "support/Log.h"
#include "support/WideText.h"
#include "unzip.h"
// After unzip.h: it relies on the zlib macros that header brings in.
#include "iowin32.h"

namespace {

const DWORD OUTPUT_BUFFER_SIZE = 16384;
// A stored name has at most 65535 bytes (a 16-bit length), and so at most as many UTF-16 units.
const int STORED_NAME_SIZE = 65536;
const int EXTRA_FIELD_SIZE = 65536;

int SaturatedSize(ZPOS64_T qwSize)
{
    return qwSize > static_cast<ZPOS64_T>(INT_MAX) ? INT_MAX : static_cast<int>(qwSize);
}

bool IsSeparator(WCHAR ch)
{
    return ch == L'\\' || ch == L'/';
}

} // namespace

struct ZipArchive {
    unzFile hUnz = nullptr;
    int nCount = 0;
    int nCurrent = -1; // minizip's current item, -1 when it is not known

    bool bTargetSet = false;
    WCHAR szTarget[MAX_PATH + 1] = {};
    WCHAR szTargetFull[MAX_PATH + 1] = {}; // the target's full path, ending in "\"

    int nCachedIndex = -1;
    ZipItemInfo cached = {};
    bool bCachedNameCut = false; // the sanitised name did not fit the record
    DWORD dwCachedFlag = 0;
    DWORD dwCachedMethod = 0;
    ZPOS64_T qwCachedUncompressed = 0;

    std::unique_ptr<BYTE[]> pOutput; // allocated at the first extraction
    ZipMemoryBlock block; // the archive's bytes, for one opened in memory

    char rgchStoredName[STORED_NAME_SIZE];
    WCHAR rgwchName[STORED_NAME_SIZE];
    BYTE rgbExtra[EXTRA_FIELD_SIZE];
};

// An archive without items is only its end record, at offset 0, where minizip does not look for it.
static bool IsEmptyArchive(const BYTE* pbStart, ZPOS64_T qwSize)
{
    static const BYTE rgbEmpty[20] = {'P', 'K', 5, 6};
    return qwSize >= 22 && memcmp(pbStart, rgbEmpty, sizeof(rgbEmpty)) == 0
        && qwSize == 22u + static_cast<unsigned>(pbStart[20] | (pbStart[21] << 8));
}

static bool IsEmptyArchive(const WCHAR* pszArchive)
{
    CFileHandle file(
        CreateFileW(pszArchive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    BYTE rgb[22];
    DWORD cbRead = 0;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 22
        || !ReadFile(file.Get(), rgb, sizeof(rgb), &cbRead, nullptr) || cbRead != sizeof(rgb))
        return false;
    return IsEmptyArchive(rgb, static_cast<ZPOS64_T>(size.QuadPart));
}

// Takes the archive minizip has opened (null: none) into pZip, which it then owns; null on failure.
static ZipHandle TakeArchive(std::unique_ptr<ZipArchive> pZip, unzFile hUnz, bool bEmpty)
{
    if (hUnz == nullptr)
        return bEmpty ? pZip.release() : nullptr;
    unz_global_info64 info;
    if (unzGetGlobalInfo64(hUnz, &info) != UNZ_OK || info.number_entry > static_cast<ZPOS64_T>(INT_MAX)) {
        unzClose(hUnz);
        return nullptr;
    }
    pZip->hUnz = hUnz;
    pZip->nCount = static_cast<int>(info.number_entry);
    return pZip.release();
}

ZipHandle OpenZip(const WCHAR* pszArchive, const char* pszPassword)
{
    if (pszArchive == nullptr || pszPassword != nullptr)
        return nullptr;
    std::unique_ptr<ZipArchive> pZip(new (std::nothrow) ZipArchive);
    if (!pZip)
        return nullptr;
    zlib_filefunc64_def funcs;
    fill_win32_filefunc64W(&funcs);
    unzFile hUnz = unzOpen2_64(pszArchive, &funcs);
    return TakeArchive(std::move(pZip), hUnz, hUnz == nullptr && IsEmptyArchive(pszArchive));
}

ZipHandle OpenZipBlock(const BYTE* pbArchive, size_t cbArchive)
{
    if (pbArchive == nullptr)
        return nullptr;
    std::unique_ptr<ZipArchive> pZip(new (std::nothrow) ZipArchive);
    if (!pZip)
        return nullptr;
    pZip->block.pbData = pbArchive;
    pZip->block.qwSize = cbArchive;
    zlib_filefunc64_def funcs;
    FillMemoryFileFuncs(&funcs, &pZip->block);
    // Any non-null name: the functions open the block.
    unzFile hUnz = unzOpen2_64(pbArchive, &funcs);
    return TakeArchive(std::move(pZip), hUnz, hUnz == nullptr && IsEmptyArchive(pbArchive, cbArchive));
}

DWORD SetZipTargetFolder(ZipHandle hZip, const WCHAR* pszFolder)
{
    if (hZip == nullptr || pszFolder == nullptr)
        return ZR_ARGUMENTS;
    hZip->bTargetSet = false;
    size_t cch = wcslen(pszFolder);
    // An empty folder would put every item under the root of the current drive, and a cut one
    // under some other folder: neither is the folder asked for.
    if (cch == 0 || cch > MAX_PATH - 1) {
        LogError(L"[SetZipTargetFolder] folder refused length=%d folder=%s", static_cast<int>(cch), pszFolder);
        return ZR_NAME;
    }
    wcscpy(hZip->szTarget, pszFolder);
    if (!IsSeparator(pszFolder[cch - 1]))
        wcscat(hZip->szTarget, L"/");

    DWORD cchFull = GetFullPathNameW(hZip->szTarget, MAX_PATH, hZip->szTargetFull, nullptr);
    if (cchFull == 0 || cchFull >= MAX_PATH) {
        LogError(L"[SetZipTargetFolder] no full path folder=%s", pszFolder);
        return ZR_NAME;
    }
    if (hZip->szTargetFull[cchFull - 1] != L'\\')
        wcscat(hZip->szTargetFull, L"\\");
    hZip->bTargetSet = true;
    return ZR_OK;
}

static DWORD GoToItem(ZipArchive* pZip, int nIndex)
{
    if (pZip->nCurrent < 0 || nIndex < pZip->nCurrent) {
        pZip->nCurrent = -1;
        if (unzGoToFirstFile(pZip->hUnz) != UNZ_OK)
            return ZR_CORRUPT;
        pZip->nCurrent = 0;
    }
    while (pZip->nCurrent < nIndex) {
        if (unzGoToNextFile(pZip->hUnz) != UNZ_OK) {
            pZip->nCurrent = -1;
            return ZR_CORRUPT;
        }
        ++pZip->nCurrent;
    }
    return ZR_OK;
}

// Times from the local header's first "UT" block replace those of the MS-DOS date and time.
static void ApplyLocalExtendedTimes(ZipArchive* pZip, ZipItemInfo* pInfo)
{
    if (unzOpenCurrentFile2(pZip->hUnz, nullptr, nullptr, 1) != UNZ_OK)
        return;
    int cbExtra = unzGetLocalExtrafield(pZip->hUnz, pZip->rgbExtra, EXTRA_FIELD_SIZE);
    ZipExtendedTimes times;
    if (cbExtra > 0 && FindExtendedTimes(pZip->rgbExtra, static_cast<size_t>(cbExtra), times)) {
        if (times.bModified)
            pInfo->ftModified = UnixTimeToFileTime(times.nModified);
        if (times.bAccessed)
            pInfo->ftAccess = UnixTimeToFileTime(times.nAccessed);
        if (times.bCreated)
            pInfo->ftCreation = UnixTimeToFileTime(times.nCreated);
    }
    unzCloseCurrentFile(pZip->hUnz);
}

DWORD QueryZipItem(ZipHandle hZip, int nIndex, ZipItemInfo* pInfo)
{
    if (pInfo == nullptr)
        return ZR_ARGUMENTS;
    pInfo->nIndex = 0;
    pInfo->szName[0] = L'\0';
    pInfo->nUncompressedSize = 0;
    if (hZip == nullptr)
        return ZR_ARGUMENTS;
    if (nIndex == -1) {
        *pInfo = ZipItemInfo {};
        pInfo->nIndex = hZip->nCount;
        return ZR_OK;
    }
    if (nIndex < -1 || nIndex >= hZip->nCount)
        return ZR_ARGUMENTS;
    if (nIndex == hZip->nCachedIndex) {
        *pInfo = hZip->cached;
        return ZR_OK;
    }
    hZip->nCachedIndex = -1;

    DWORD dwResult = GoToItem(hZip, nIndex);
    if (dwResult != ZR_OK)
        return dwResult;
    unz_file_info64 file;
    if (unzGetCurrentFileInfo64(hZip->hUnz, &file, hZip->rgchStoredName, STORED_NAME_SIZE, nullptr, 0, nullptr, 0)
        != UNZ_OK)
        return ZR_CORRUPT;

    // The archives come from Windows tools that store names in the ANSI code page; the UTF-8 flag
    // is not looked at.
    int cchName = MultiByteToWideChar(CP_ACP, 0, hZip->rgchStoredName, -1, hZip->rgwchName, STORED_NAME_SIZE);
    if (cchName == 0)
        hZip->rgwchName[0] = L'\0';
    const WCHAR* pszSafe = AsWide(SanitizeZipItemName(AsU16(hZip->rgwchName)));
    bool bNameCut = !CopyString(pInfo->szName, MAX_PATH, pszSafe);

    pInfo->nIndex = nIndex;
    pInfo->dwAttributes = ZipItemAttributes(file.version, file.external_fa);
    FILETIME ft;
    DosDateTimeToUtc(HIWORD(file.dosDate), LOWORD(file.dosDate), &ft);
    pInfo->ftAccess = ft;
    pInfo->ftCreation = ft;
    pInfo->ftModified = ft;
    ApplyLocalExtendedTimes(hZip, pInfo);
    pInfo->nCompressedSize = SaturatedSize(file.compressed_size);
    pInfo->nUncompressedSize = SaturatedSize(file.uncompressed_size);

    hZip->cached = *pInfo;
    hZip->bCachedNameCut = bNameCut;
    hZip->dwCachedFlag = file.flag;
    hZip->dwCachedMethod = file.compression_method;
    hZip->qwCachedUncompressed = file.uncompressed_size;
    hZip->nCachedIndex = nIndex;
    return ZR_OK;
}

// A component made only of dots and blanks: after normalisation some systems (Wine) still leave
// such a component in the full path, and opening the path then resolves it as "..".
static bool HasDotComponent(const WCHAR* pszFull)
{
    const WCHAR* pszComponent = pszFull;
    for (const WCHAR* psz = pszFull;; ++psz) {
        if (*psz == L'\\' || *psz == L'/' || *psz == L'\0') {
            if (psz > pszComponent && wcsspn(pszComponent, L". ") == static_cast<size_t>(psz - pszComponent))
                return true;
            if (*psz == L'\0')
                return false;
            pszComponent = psz + 1;
        }
    }
}

// Checks the path against the target folder after the file system's own normalisation, which is
// what CreateFile applies too: device names, ".." in any spelling and drive-relative forms all show
// there. The target itself counts as inside only when bAllowTarget.
static bool IsInsideTarget(const ZipArchive* pZip, const WCHAR* pszPath, bool bAllowTarget)
{
    WCHAR szFull[MAX_PATH];
    DWORD cchFull = GetFullPathNameW(pszPath, MAX_PATH, szFull, nullptr);
    if (cchFull == 0 || cchFull >= MAX_PATH || HasDotComponent(szFull))
        return false;
    size_t cchTarget = wcslen(pZip->szTargetFull);
    if (_wcsnicmp(szFull, pZip->szTargetFull, cchTarget) == 0)
        return bAllowTarget || szFull[cchTarget] != L'\0';
    return bAllowTarget && cchFull == cchTarget - 1 && _wcsnicmp(szFull, pZip->szTargetFull, cchFull) == 0;
}

// Creates the folder unless it exists. An existing link is refused: it could lead out of the target.
static bool EnsureFolder(const ZipArchive* pZip, const WCHAR* pszFolder)
{
    if (!IsInsideTarget(pZip, pszFolder, true)) {
        LogError(L"[UnzipItem] folder outside the target path=%s", pszFolder);
        return false;
    }
    DWORD dwAttributes = GetFileAttributesW(pszFolder);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        CreateDirectoryW(pszFolder, nullptr);
        return true;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        LogError(L"[UnzipItem] link on the way path=%s", pszFolder);
        return false;
    }
    return true;
}

// The target folder and each level of the name's folder part, outermost first.
static bool EnsureFolders(const ZipArchive* pZip, const WCHAR* pszPath, size_t cchFolderPart)
{
    WCHAR szLevel[MAX_PATH];
    size_t cchTarget = wcslen(pZip->szTarget);
    wcsncpy(szLevel, pZip->szTarget, cchTarget - 1);
    szLevel[cchTarget - 1] = L'\0';
    DWORD dwTarget = szLevel[0] != L'\0' ? GetFileAttributesW(szLevel) : INVALID_FILE_ATTRIBUTES;
    if (dwTarget != INVALID_FILE_ATTRIBUTES && (dwTarget & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        LogError(L"[UnzipItem] link on the way path=%s", szLevel);
        return false;
    }
    if (szLevel[0] != L'\0' && szLevel[cchTarget - 2] != L':' && dwTarget == INVALID_FILE_ATTRIBUTES)
        CreateDirectoryW(szLevel, nullptr);

    for (size_t i = cchTarget; i < cchTarget + cchFolderPart; ++i) {
        if (!IsSeparator(pszPath[i]) || IsSeparator(pszPath[i - 1]))
            continue;
        wcsncpy(szLevel, pszPath, i);
        szLevel[i] = L'\0';
        if (!EnsureFolder(pZip, szLevel))
            return false;
    }
    return true;
}

static DWORD WriteItemData(ZipArchive* pZip, HANDLE hFile, const WCHAR* pszPath)
{
    if (!pZip->pOutput) {
        pZip->pOutput.reset(new (std::nothrow) BYTE[OUTPUT_BUFFER_SIZE]);
        if (!pZip->pOutput)
            return ZR_MEMORY;
    }
    if (unzOpenCurrentFile(pZip->hUnz) != UNZ_OK) {
        LogError(L"[UnzipItem] open data of %s failed", pszPath);
        return ZR_CORRUPT;
    }
    ZPOS64_T qwWritten = 0;
    DWORD dwResult = ZR_OK;
    for (;;) {
        int nRead = unzReadCurrentFile(pZip->hUnz, pZip->pOutput.get(), OUTPUT_BUFFER_SIZE);
        if (nRead == 0)
            break;
        if (nRead < 0) {
            LogError(L"[UnzipItem] read %s failed code=%d", pszPath, nRead);
            dwResult = ZR_DATA;
            break;
        }
        if (!WriteAll(hFile, pZip->pOutput.get(), static_cast<DWORD>(nRead))) {
            DWORD dwError = GetLastError();
            LogError(L"[UnzipItem] write %s failed error=%lu", pszPath, dwError);
            dwResult = IsDiskFullError(dwError) ? ZR_DISK_FULL : ZR_WRITE;
            break;
        }
        qwWritten += static_cast<DWORD>(nRead);
    }
    // A CRC mismatch is not an error here: the installed files are verified against the CRC list.
    unzCloseCurrentFile(pZip->hUnz);
    if (dwResult == ZR_OK && qwWritten != pZip->qwCachedUncompressed) {
        LogError(L"[UnzipItem] %s ends after %I64u of %I64u bytes", pszPath, qwWritten, pZip->qwCachedUncompressed);
        dwResult = ZR_DATA;
    }
    return dwResult;
}

static const FILETIME* TimeOrNull(const FILETIME& ft)
{
    return ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0 ? nullptr : &ft;
}

DWORD UnzipItem(ZipHandle hZip, int nIndex, const WCHAR* pszName)
{
    if (hZip == nullptr || pszName == nullptr)
        return ZR_ARGUMENTS;
    ZipItemInfo info;
    DWORD dwResult = QueryZipItem(hZip, nIndex, &info);
    if (dwResult != ZR_OK)
        return dwResult;
    if (!hZip->bTargetSet) {
        LogError(L"[UnzipItem] no target folder index=%d", nIndex);
        return ZR_ARGUMENTS;
    }
    if (hZip->bCachedNameCut) {
        LogError(L"[UnzipItem] name too long index=%d name=%s", nIndex, info.szName);
        return ZR_NAME;
    }
    const WCHAR* pszSafe = AsWide(SanitizeZipItemName(AsU16(pszName)));
    WCHAR szPath[MAX_PATH];
    if (pszSafe[0] == L'\0' || !Format(szPath, MAX_PATH, L"%s%s", hZip->szTarget, pszSafe)) {
        LogError(L"[UnzipItem] path too long folder=%s name=%s", hZip->szTarget, pszName);
        return ZR_NAME;
    }
    size_t cchFolderPart = ZipItemFolderLength(AsU16(pszSafe));
    if (!EnsureFolders(hZip, szPath, cchFolderPart))
        return ZR_CREATE;

    if ((info.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (pszSafe[cchFolderPart] != L'\0' && !EnsureFolder(hZip, szPath))
            return ZR_CREATE;
        DWORD dwAttributes = GetFileAttributesW(szPath);
        if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            LogError(L"[UnzipItem] create folder %s failed", szPath);
            return ZR_CREATE;
        }
        return ZR_OK;
    }

    if (!IsInsideTarget(hZip, szPath, false)) {
        LogError(L"[UnzipItem] file outside the target path=%s", szPath);
        return ZR_NAME;
    }
    if ((hZip->dwCachedFlag & 1) != 0 || (hZip->dwCachedMethod != 0 && hZip->dwCachedMethod != Z_DEFLATED)) {
        LogError(L"[UnzipItem] %s not supported method=%lu flag=%lu", szPath, hZip->dwCachedMethod, hZip->dwCachedFlag);
        return ZR_UNSUPPORTED;
    }
    if (GoToItem(hZip, nIndex) != ZR_OK)
        return ZR_CORRUPT;

    // A read-only file that an earlier installation left is replaced like any other: its attribute
    // goes first, as Windows neither deletes nor overwrites a read-only file. Should it stay, the item
    // fails here rather than where Windows would refuse it (Wine run by root would not).
    DWORD dwExisting = GetFileAttributesW(szPath);
    if ((dwExisting & FILE_ATTRIBUTE_DIRECTORY) == 0)
        ClearReadOnly(szPath, dwExisting);
    DeleteFileW(szPath);
    dwExisting = GetFileAttributesW(szPath);
    if (dwExisting != INVALID_FILE_ATTRIBUTES && (dwExisting & FILE_ATTRIBUTE_READONLY) != 0) {
        LogError(L"[UnzipItem] create %s failed error=%lu", szPath, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        return ZR_CREATE;
    }
    DWORD dwFileAttributes = info.dwAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
    CFileHandle file(CreateFileW(szPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
        dwFileAttributes != 0 ? dwFileAttributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD dwError = GetLastError();
        LogError(L"[UnzipItem] create %s failed error=%lu", szPath, dwError);
        return IsDiskFullError(dwError) ? ZR_DISK_FULL : ZR_CREATE;
    }
    dwResult = WriteItemData(hZip, file.Get(), szPath);
    if (dwResult != ZR_OK)
        return dwResult;
    SetFileTime(file.Get(), TimeOrNull(info.ftCreation), TimeOrNull(info.ftAccess), TimeOrNull(info.ftModified));
    return ZR_OK;
}

DWORD CloseZipArchive(ZipHandle hZip)
{
    if (hZip == nullptr)
        return ZR_ARGUMENTS;
    int nResult = hZip->hUnz != nullptr ? unzClose(hZip->hUnz) : UNZ_OK;
    delete hZip;
    return nResult == UNZ_OK ? ZR_OK : ZR_CORRUPT;
}
