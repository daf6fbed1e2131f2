#include "core/SplitString.h"

int SplitString(const std::wstring& strText, WCHAR chSeparator, std::vector<std::wstring>& vecPieces)
{
    vecPieces.clear();
    size_t nStart = 0;
    while (nStart <= strText.size()) {
        size_t nEnd = strText.find(chSeparator, nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strText.size();
        if (nEnd > nStart)
            vecPieces.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return static_cast<int>(vecPieces.size());
}
