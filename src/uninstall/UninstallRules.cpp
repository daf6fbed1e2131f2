#include "uninstall/UninstallRules.h"

#include <cwchar>
#include <cwctype>

#include "support/Format.h"
#include "system/SystemPaths.h"

namespace {

bool IsBlank(WCHAR ch)
{
    return ch == L' ' || ch == L'\t';
}

bool IsSeparator(WCHAR ch)
{
    return ch == L'\\' || ch == L'/';
}

const WCHAR s_szWaitSwitch[] = L"/wait=";

bool IsSilentSwitch(const std::wstring& strWord)
{
    return strWord == L"/S" || strWord == L"/s";
}

// Whether a blank-separated word of the line is "/S", whatever else the line holds.
bool MentionsSilentSwitch(const WCHAR* psz)
{
    for (;;) {
        while (IsBlank(*psz))
            ++psz;
        if (*psz == L'\0')
            return false;
        const WCHAR* pszStart = psz;
        while (*psz != L'\0' && !IsBlank(*psz))
            ++psz;
        if (IsSilentSwitch(std::wstring(pszStart, psz)))
            return true;
    }
}

// One blank-separated token; a token that starts with a double quote runs to the next one. False for an
// unterminated quote or a quote glued to more text.
bool NextToken(const WCHAR*& psz, std::wstring& strToken, bool& bQuoted)
{
    strToken.clear();
    bQuoted = *psz == L'"';
    if (bQuoted) {
        const WCHAR* pszEnd = wcschr(psz + 1, L'"');
        if (pszEnd == nullptr)
            return false;
        strToken.assign(psz + 1, pszEnd);
        psz = pszEnd + 1;
        return *psz == L'\0' || IsBlank(*psz);
    }
    const WCHAR* pszStart = psz;
    while (*psz != L'\0' && !IsBlank(*psz) && *psz != L'"')
        ++psz;
    strToken.assign(pszStart, psz);
    return *psz != L'"';
}

bool ParseWaitHandle(const std::wstring& strDigits, UINT_PTR& nHandle)
{
    if (strDigits.empty() || strDigits.size() > 20)
        return false;
    unsigned long long n = 0;
    for (WCHAR ch : strDigits) {
        if (ch < L'0' || ch > L'9')
            return false;
        unsigned long long nNext = n * 10 + static_cast<unsigned>(ch - L'0');
        if (nNext / 10 != n)
            return false;
        n = nNext;
    }
    if (n == 0 || n != static_cast<UINT_PTR>(n))
        return false;
    nHandle = static_cast<UINT_PTR>(n);
    return true;
}

} // namespace

UninstallArguments ParseUninstallArguments(const WCHAR* pszArguments)
{
    UninstallArguments args;
    const WCHAR* psz = pszArguments != nullptr ? pszArguments : L"";
    UninstallArguments invalid;
    invalid.bSilent = MentionsSilentSwitch(psz);
    for (;;) {
        while (IsBlank(*psz))
            ++psz;
        if (*psz == L'\0')
            break;
        std::wstring strToken;
        bool bQuoted = false;
        if (!NextToken(psz, strToken, bQuoted))
            return invalid;
        bool bWait = !bQuoted && strToken.compare(0, wcslen(s_szWaitSwitch), s_szWaitSwitch) == 0;
        bool bSilent = !bQuoted && IsSilentSwitch(strToken);
        if (bSilent) {
            if (args.bSilent)
                return invalid;
            args.bSilent = true;
        } else if (bWait) {
            if (args.nWaitHandle != 0 || !ParseWaitHandle(strToken.substr(wcslen(s_szWaitSwitch)), args.nWaitHandle))
                return invalid;
        } else {
            if (args.bHasFolder || args.nWaitHandle != 0)
                return invalid;
            args.bHasFolder = true;
            args.strFolder = strToken;
        }
    }
    args.bValid = true;
    return args;
}

const WCHAR* SkipProgramName(const WCHAR* pszCommandLine)
{
    if (pszCommandLine == nullptr)
        return L"";
    const WCHAR* psz = pszCommandLine;
    if (*psz == L'"') {
        const WCHAR* pszEnd = wcschr(psz + 1, L'"');
        psz = pszEnd != nullptr ? pszEnd + 1 : psz + wcslen(psz);
    } else {
        while (*psz != L'\0' && !IsBlank(*psz))
            ++psz;
    }
    while (IsBlank(*psz))
        ++psz;
    return psz;
}

std::wstring CanonicalFolder(const std::wstring& strPath)
{
    std::wstring str;
    for (size_t i = 0; i < strPath.size(); ++i) {
        WCHAR ch = IsSeparator(strPath[i]) ? L'\\' : strPath[i];
        // A leading pair (a network path) stays two.
        if (ch == L'\\' && i > 1 && !str.empty() && str.back() == L'\\')
            continue;
        str += ch;
    }
    while (!str.empty() && str.back() == L'\\')
        str.pop_back();
    if (str.size() == 2 && str[1] == L':')
        str += L'\\';
    else if (str.empty() && !strPath.empty() && IsSeparator(strPath[0]))
        str = L"\\";
    return str;
}

bool SameFolder(const std::wstring& strA, const std::wstring& strB)
{
    return EqualNoCase(CanonicalFolder(strA).c_str(), CanonicalFolder(strB).c_str());
}

bool IsInsideFolder(const std::wstring& strPath, const std::wstring& strFolder)
{
    std::wstring strInner = CanonicalFolder(strPath);
    std::wstring strPrefix = CanonicalFolder(strFolder);
    if (strPrefix.empty())
        return false;
    if (strPrefix.back() != L'\\')
        strPrefix += L'\\';
    if (strInner.size() <= strPrefix.size())
        return false;
    size_t nStart = 0;
    while (nStart <= strInner.size()) {
        size_t nEnd = strInner.find(L'\\', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strInner.size();
        std::wstring strSegment = strInner.substr(nStart, nEnd - nStart);
        if (strSegment == L"." || strSegment == L"..")
            return false;
        nStart = nEnd + 1;
    }
    return EqualNoCase(strInner.substr(0, strPrefix.size()).c_str(), strPrefix.c_str());
}

std::wstring DriveRootOf(const std::wstring& strPath)
{
    if (strPath.size() >= 2 && strPath[1] == L':' && iswalpha(strPath[0]) && strPath[0] < 0x80)
        return std::wstring(1, static_cast<WCHAR>(towupper(strPath[0]))) + L":\\";
    return L"C:\\";
}

std::wstring FinalMessage(const std::vector<std::wstring>& vecLeft, size_t nMaxListed)
{
    if (vecLeft.empty())
        return L"Mirevale 已从您的计算机中卸载。";
    std::wstring str = L"Mirevale 已卸载，但以下文件未能删除（可能正在使用）：\n\n";
    for (size_t i = 0; i < vecLeft.size() && i < nMaxListed; ++i)
        str += vecLeft[i] + L"\n";
    if (vecLeft.size() > nMaxListed)
        str += FormatString(L"……另有 %u 项\n", static_cast<unsigned>(vecLeft.size() - nMaxListed));
    str += L"\n请关闭使用它们的程序后手动删除。";
    return str;
}
