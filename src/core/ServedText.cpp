#include "core/ServedText.h"

#include <climits>
#include <vector>

std::wstring ServedText(const BYTE* pBytes, int nLength)
{
    std::wstring strText;
    if (pBytes == nullptr)
        return strText;
    for (int i = 2; i < nLength; i += 2) {
        WCHAR ch = static_cast<WCHAR>(pBytes[i] | (i + 1 < nLength ? pBytes[i + 1] << 8 : 0));
        if (ch == L'\0')
            break;
        strText.push_back(ch);
    }
    return strText;
}

std::wstring TrimLineEnds(const std::wstring& strLine)
{
    size_t nFirst = strLine.find_first_not_of(L"\r\n");
    if (nFirst == std::wstring::npos)
        return std::wstring();
    size_t nLast = strLine.find_last_not_of(L"\r\n");
    return strLine.substr(nFirst, nLast - nFirst + 1);
}

int ReadAnsiDecimal(const std::wstring& strField)
{
    int cb = WideCharToMultiByte(
        CP_ACP, 0, strField.c_str(), static_cast<int>(strField.size()), nullptr, 0, nullptr, nullptr);
    std::vector<char> ansi(static_cast<size_t>(cb > 0 ? cb : 0) + 1, '\0');
    if (cb > 0)
        WideCharToMultiByte(
            CP_ACP, 0, strField.c_str(), static_cast<int>(strField.size()), ansi.data(), cb, nullptr, nullptr);

    const char* p = ansi.data();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = *p++ == '-';
    long long nValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        nValue = nValue * 10 + (*p - '0');
        if (nValue > static_cast<long long>(INT_MAX) + 1)
            nValue = static_cast<long long>(INT_MAX) + 1;
    }
    if (bNegative)
        return static_cast<int>(-nValue);
    return nValue > INT_MAX ? INT_MAX : static_cast<int>(nValue);
}
