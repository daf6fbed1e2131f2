#include "support/Format.h"

#include <cwchar>
#include <vector>

bool FormatV(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszFormat, va_list args)
{
    if (pszBuf == nullptr || cchBuf == 0)
        return false;
    if (pszFormat == nullptr) {
        pszBuf[0] = L'\0';
        return false;
    }
    // _vsnwprintf returns a negative count when the output does not fit, and leaves the buffer
    // unterminated when it fits exactly without the terminator.
    int n = _vsnwprintf(pszBuf, cchBuf, pszFormat, args);
    pszBuf[cchBuf - 1] = L'\0';
    return n >= 0 && static_cast<size_t>(n) < cchBuf;
}

bool Format(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    bool bFits = FormatV(pszBuf, cchBuf, pszFormat, args);
    va_end(args);
    return bFits;
}

std::wstring FormatStringV(const WCHAR* pszFormat, va_list args)
{
    if (pszFormat == nullptr)
        return std::wstring();
    va_list counting;
    va_copy(counting, args);
    int n = _vscwprintf(pszFormat, counting);
    va_end(counting);
    if (n <= 0)
        return std::wstring();
    std::vector<WCHAR> buf(static_cast<size_t>(n) + 1);
    _vsnwprintf(buf.data(), buf.size(), pszFormat, args);
    buf.back() = L'\0';
    return std::wstring(buf.data(), static_cast<size_t>(n));
}

std::wstring FormatString(const WCHAR* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::wstring str = FormatStringV(pszFormat, args);
    va_end(args);
    return str;
}

bool CopyString(WCHAR* pszBuf, size_t cchBuf, const WCHAR* pszSource)
{
    if (pszBuf == nullptr || cchBuf == 0)
        return false;
    if (pszSource == nullptr) {
        pszBuf[0] = L'\0';
        return true;
    }
    size_t cch = wcslen(pszSource);
    bool bFits = cch < cchBuf;
    if (!bFits)
        cch = cchBuf - 1;
    wmemcpy(pszBuf, pszSource, cch);
    pszBuf[cch] = L'\0';
    return bFits;
}
