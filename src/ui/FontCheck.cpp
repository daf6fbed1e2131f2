#include "ui/FontCheck.h"

#include <vector>

#include "core/SetupDlg.h"
#include "support/Format.h"
#include "support/GdiplusInc.h"
#include "support/Handles.h"

namespace {

struct FontSearch {
    const WCHAR* pszFace;
    bool bFound;
};

int CALLBACK FontEnumProc(const LOGFONTW* pLogFont, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    FontSearch* pSearch = reinterpret_cast<FontSearch*>(lParam);
    if (_wcsicmp(pLogFont->lfFaceName, pSearch->pszFace) == 0) {
        pSearch->bFound = true;
        return 0;
    }
    return 1;
}

} // namespace

bool IsFontKnownToGdi(const WCHAR* pszFace)
{
    CClientDC dc(GetDesktopWindow());
    if (!dc)
        return false;
    LOGFONTW logFont = {};
    logFont.lfCharSet = DEFAULT_CHARSET;
    CopyString(logFont.lfFaceName, ARRAYSIZE(logFont.lfFaceName), pszFace);
    FontSearch search = {pszFace, false};
    EnumFontFamiliesExW(dc.Get(), &logFont, FontEnumProc, reinterpret_cast<LPARAM>(&search), 0);
    return search.bFound;
}

bool IsFontKnownToGdiplus(const WCHAR* pszFace)
{
    Gdiplus::InstalledFontCollection fonts;
    INT nCount = fonts.GetFamilyCount();
    if (nCount <= 0)
        return false;
    std::vector<Gdiplus::FontFamily> families(static_cast<size_t>(nCount));
    INT nFound = 0;
    fonts.GetFamilies(nCount, families.data(), &nFound);
    for (INT i = 0; i < nFound; ++i) {
        WCHAR szName[LF_FACESIZE] = {};
        families[static_cast<size_t>(i)].GetFamilyName(szName, LANG_NEUTRAL);
        if (wcscmp(szName, pszFace) == 0)
            return true;
    }
    return false;
}

bool CSetupDlg::IsPreferredFontInstalled()
{
    const WCHAR szFace[] = L"微软雅黑";
    bool bGdi = IsFontKnownToGdi(szFace);
    bool bGdiplus = IsFontKnownToGdiplus(szFace);
    return bGdi && bGdiplus;
}
