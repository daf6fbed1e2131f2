// remove_resource SOURCE TARGET TYPE ID: writes TARGET, a copy of the program SOURCE without the
// resource of the string type TYPE and the numeric name ID (in every language), so that a test can
// run the program without it.
//
// The copy gets all other resources anew (BeginUpdateResource deleting the existing ones): Wine's
// UpdateResource with no data does not remove a resource that the file already holds.
#include <windows.h>

#include <shellapi.h>

#include <cwchar>

namespace {

struct ResourceCopy {
    HANDLE hUpdate;
    const WCHAR* pszSkipType;
    WORD wSkipId;
    int nCopied;
    int nSkipped;
    bool bFailed;
};

bool IsSkipped(const ResourceCopy& copy, LPCWSTR pszType, LPCWSTR pszName)
{
    return !IS_INTRESOURCE(pszType) && _wcsicmp(pszType, copy.pszSkipType) == 0 && IS_INTRESOURCE(pszName)
        && LOWORD(reinterpret_cast<ULONG_PTR>(pszName)) == copy.wSkipId;
}

BOOL CALLBACK CopyLanguage(HMODULE hSource, LPCWSTR pszType, LPCWSTR pszName, WORD wLanguage, LONG_PTR lParam)
{
    ResourceCopy& copy = *reinterpret_cast<ResourceCopy*>(lParam);
    if (IsSkipped(copy, pszType, pszName)) {
        ++copy.nSkipped;
        return TRUE;
    }
    HRSRC hResource = FindResourceExW(hSource, pszType, pszName, wLanguage);
    HGLOBAL hData = hResource != nullptr ? LoadResource(hSource, hResource) : nullptr;
    void* pData = hData != nullptr ? LockResource(hData) : nullptr;
    if (pData == nullptr
        || !UpdateResourceW(copy.hUpdate, pszType, pszName, wLanguage, pData, SizeofResource(hSource, hResource))) {
        copy.bFailed = true;
        return FALSE;
    }
    ++copy.nCopied;
    return TRUE;
}

BOOL CALLBACK CopyName(HMODULE hSource, LPCWSTR pszType, LPWSTR pszName, LONG_PTR lParam)
{
    EnumResourceLanguagesW(hSource, pszType, pszName, CopyLanguage, lParam);
    return !reinterpret_cast<ResourceCopy*>(lParam)->bFailed;
}

BOOL CALLBACK CopyType(HMODULE hSource, LPWSTR pszType, LONG_PTR lParam)
{
    EnumResourceNamesW(hSource, pszType, CopyName, lParam);
    return !reinterpret_cast<ResourceCopy*>(lParam)->bFailed;
}

int CopyWithout(const WCHAR* pszSource, const WCHAR* pszTarget, const WCHAR* pszType, WORD wId)
{
    if (!CopyFileW(pszSource, pszTarget, FALSE))
        return 1;
    HMODULE hSource = LoadLibraryExW(pszSource, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (hSource == nullptr)
        return 1;
    ResourceCopy copy = {BeginUpdateResourceW(pszTarget, TRUE), pszType, wId, 0, 0, false};
    if (copy.hUpdate != nullptr) {
        EnumResourceTypesW(hSource, CopyType, reinterpret_cast<LONG_PTR>(&copy));
        const bool bDiscard = copy.bFailed || copy.nSkipped == 0 || copy.nCopied == 0;
        if (!EndUpdateResourceW(copy.hUpdate, bDiscard))
            copy.bFailed = true;
    }
    FreeLibrary(hSource);
    return copy.hUpdate != nullptr && !copy.bFailed && copy.nSkipped > 0 && copy.nCopied > 0 ? 0 : 1;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (ppszArgs == nullptr || nArgs != 5)
        return 2;
    int nResult
        = CopyWithout(ppszArgs[1], ppszArgs[2], ppszArgs[3], static_cast<WORD>(wcstoul(ppszArgs[4], nullptr, 10)));
    LocalFree(ppszArgs);
    return nResult;
}
