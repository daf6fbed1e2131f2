#include "core/rules/Names.h"

#include <algorithm>

namespace {

bool IsSeparator(char16_t ch)
{
    return ch == u'\\' || ch == u'/';
}

char16_t AsciiUpper(char16_t ch)
{
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

bool IsDeviceDigit(char16_t ch)
{
    return (ch >= u'1' && ch <= u'9') || ch == u'\u00B9' || ch == u'\u00B2' || ch == u'\u00B3';
}

// The system drops trailing dots and blanks from a component, so "...", ".. " or ". ." may climb as
// ".." does.
bool ClimbsOut(const std::u16string& strComponent)
{
    return strComponent.find_first_not_of(u". ") == std::u16string::npos
        && std::count(strComponent.begin(), strComponent.end(), u'.') >= 2;
}

} // namespace

bool IsDeviceName(const std::u16string& strComponent)
{
    std::u16string strBase = strComponent.substr(0, strComponent.find(u'.'));
    strBase.erase(strBase.find_last_not_of(u' ') + 1);
    std::transform(strBase.begin(), strBase.end(), strBase.begin(), AsciiUpper);
    for (const char16_t* pszDevice : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (strBase == pszDevice)
            return true;
    }
    return strBase.size() == 4 && (strBase.compare(0, 3, u"COM") == 0 || strBase.compare(0, 3, u"LPT") == 0)
        && IsDeviceDigit(strBase[3]);
}

bool IsNameInsideFolder(const char16_t* pszName)
{
    if (pszName == nullptr || pszName[0] == u'\0' || IsSeparator(pszName[0]))
        return false;
    std::u16string strComponent;
    for (const char16_t* psz = pszName;; ++psz) {
        if (*psz == u':')
            return false;
        if (*psz != u'\0' && !IsSeparator(*psz)) {
            strComponent += *psz;
            continue;
        }
        if (ClimbsOut(strComponent) || IsDeviceName(strComponent))
            return false;
        if (*psz == u'\0')
            return true;
        strComponent.clear();
    }
}
