#include "core/PackageList.h"

#include "core/ServedText.h"
#include "core/SplitString.h"
#include "support/Format.h"
#include "support/Log.h"

int ParsePackageLines(const std::wstring& strText, std::vector<PackageEntry>& vecPackages)
{
    vecPackages.clear();
    std::vector<std::wstring> vecLines;
    SplitString(strText, L'\r', vecLines);
    std::vector<std::wstring> vecFields;
    for (const std::wstring& strRawLine : vecLines) {
        std::wstring strLine = TrimLineEnds(strRawLine);
        if (strLine.empty())
            continue;
        if (SplitString(strLine, L';', vecFields) != 3)
            continue;
        PackageEntry entry = {};
        if (!CopyString(entry.szName, ARRAYSIZE(entry.szName), vecFields[0].c_str())) {
            LogError(L"[CSetupDlg::ParsePackageList] name too long, line skipped: %s", vecFields[0].c_str());
            continue;
        }
        entry.nValue = ReadAnsiDecimal(vecFields[1]);
        entry.nKind = ReadAnsiDecimal(vecFields[2]);
        vecPackages.push_back(entry);
    }
    return static_cast<int>(vecPackages.size());
}
