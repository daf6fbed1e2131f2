#include "core/FileCrcRules.h"

#include "core/ServedText.h"
#include "core/SplitString.h"

DWORD ReadCrcNumber(const std::wstring& strField)
{
    const ULONGLONG qwMax = 0xFFFFFFFFULL;
    size_t i = 0;
    while (i < strField.size() && (strField[i] == L' ' || (strField[i] >= L'\t' && strField[i] <= L'\r')))
        ++i;
    bool bNegative = false;
    if (i < strField.size() && (strField[i] == L'+' || strField[i] == L'-'))
        bNegative = strField[i++] == L'-';
    ULONGLONG qwValue = 0;
    for (; i < strField.size() && strField[i] >= L'0' && strField[i] <= L'9'; ++i) {
        qwValue = qwValue * 10 + (strField[i] - L'0');
        if (qwValue > qwMax)
            return static_cast<DWORD>(qwMax);
    }
    DWORD dwValue = static_cast<DWORD>(qwValue);
    return bNegative ? 0U - dwValue : dwValue;
}

std::vector<CrcListEntry> ParseCrcList(const std::wstring& strText)
{
    std::vector<CrcListEntry> vecEntries;
    std::vector<std::wstring> vecLines;
    SplitString(strText, L'\r', vecLines);
    for (const std::wstring& strRawLine : vecLines) {
        std::wstring strLine = TrimLineEnds(strRawLine);
        if (strLine.empty())
            continue;
        std::vector<std::wstring> vecFields;
        if (SplitString(strLine, L';', vecFields) != 2)
            continue;
        vecEntries.push_back(CrcListEntry {vecFields[0], ReadCrcNumber(vecFields[1])});
    }
    return vecEntries;
}
