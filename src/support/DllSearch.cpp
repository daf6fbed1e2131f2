#include "support/DllSearch.h"

#include <windows.h>

bool RestrictDllSearch()
{
    using PFN_SET_DEFAULT_DLL_DIRECTORIES = BOOL(WINAPI*)(DWORD);
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    if (hKernel == nullptr)
        return false;
    auto pfnSet = reinterpret_cast<PFN_SET_DEFAULT_DLL_DIRECTORIES>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "SetDefaultDllDirectories")));
    return pfnSet != nullptr && pfnSet(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}
