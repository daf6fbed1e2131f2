#include "core/PackageName.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

bool IsSeparator(WCHAR ch)
{
    return ch == L'\\' || ch == L'/';
}

// The system drops trailing dots and blanks from a component, so "...", ".. " or ". ." may climb as
// ".." does.
bool ClimbsOut(const std::wstring& strComponent)
{
    return strComponent.find_first_not_of(L". ") == std::wstring::npos
        && std::count(strComponent.begin(), strComponent.end(), L'.') >= 2;
}

// The part before the first dot, trailing blanks dropped, is what the system takes for a device.
bool IsDeviceName(const std::wstring& strComponent)
{
    std::wstring strBase = strComponent.substr(0, strComponent.find(L'.'));
    strBase.erase(strBase.find_last_not_of(L' ') + 1);
    for (const WCHAR* pszDevice : {L"CON", L"PRN", L"AUX", L"NUL"}) {
        if (_wcsicmp(strBase.c_str(), pszDevice) == 0)
            return true;
    }
    return strBase.size() == 4
        && (_wcsnicmp(strBase.c_str(), L"COM", 3) == 0 || _wcsnicmp(strBase.c_str(), L"LPT", 3) == 0)
        && ((strBase[3] >= L'1' && strBase[3] <= L'9') || strBase[3] == L'\u00B9' || strBase[3] == L'\u00B2'
            || strBase[3] == L'\u00B3');
}

} // namespace

bool IsNameInsideFolder(const WCHAR* pszName)
{
    if (pszName == nullptr || pszName[0] == L'\0' || IsSeparator(pszName[0]) || wcschr(pszName, L':') != nullptr)
        return false;
    std::wstring strComponent;
    for (const WCHAR* psz = pszName;; ++psz) {
        if (*psz != L'\0' && !IsSeparator(*psz)) {
            strComponent += *psz;
            continue;
        }
        if (ClimbsOut(strComponent) || IsDeviceName(strComponent))
            return false;
        if (*psz == L'\0')
            return true;
        strComponent.clear();
    }
}
