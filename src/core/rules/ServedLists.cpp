#include "core/rules/ServedLists.h"

#include "core/rules/Text.h"

std::vector<ManifestLine> SplitManifest(const std::u16string& strText, std::vector<std::u16string>* pvecIgnored)
{
    std::vector<ManifestLine> vecLines;
    for (const std::u16string& strLine : SplitLines(strText)) {
        const std::vector<std::u16string> vecFields = SplitString(strLine, u';');
        if (vecFields.size() == 3)
            vecLines.push_back({vecFields[0], vecFields[1], vecFields[2]});
        else if (pvecIgnored != nullptr)
            pvecIgnored->push_back(strLine);
    }
    return vecLines;
}

std::vector<CrcListLine> ParseCrcList(const std::u16string& strText, std::vector<std::u16string>* pvecIgnored)
{
    std::vector<CrcListLine> vecLines;
    for (const std::u16string& strLine : SplitLines(strText)) {
        const std::vector<std::u16string> vecFields = SplitString(strLine, u';');
        if (vecFields.size() == 2)
            vecLines.push_back({vecFields[0], ReadUnsignedDecimal(vecFields[1])});
        else if (pvecIgnored != nullptr)
            pvecIgnored->push_back(strLine);
    }
    return vecLines;
}
