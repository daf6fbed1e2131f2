#include "core/PackageList.h"

#include <windows.h>

#include "core/rules/ServedLists.h"
#include "core/rules/Text.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/WideText.h"

int ParsePackageLines(const std::wstring& strText, std::vector<PackageEntry>& vecPackages)
{
    vecPackages.clear();
    for (const ManifestLine& line : SplitManifest(ToU16(strText))) {
        PackageEntry entry = {};
        const std::wstring strName = FromU16(line.strName);
        if (!CopyString(entry.szName, ARRAYSIZE(entry.szName), strName.c_str())) {
            LogError(L"[CSetupDlg::ParsePackageList] name too long, line skipped: %s", strName.c_str());
            continue;
        }
        entry.nValue = ReadAnsiDecimal(FromU16(line.strValue));
        entry.nKind = ReadAnsiDecimal(FromU16(line.strKind));
        vecPackages.push_back(entry);
    }
    return static_cast<int>(vecPackages.size());
}

int ReadAnsiDecimal(const std::wstring& strField)
{
    const int cb = WideCharToMultiByte(
        CP_ACP, 0, strField.c_str(), static_cast<int>(strField.size()), nullptr, 0, nullptr, nullptr);
    std::string strAnsi(static_cast<size_t>(cb > 0 ? cb : 0), '\0');
    if (cb > 0)
        WideCharToMultiByte(
            CP_ACP, 0, strField.c_str(), static_cast<int>(strField.size()), &strAnsi[0], cb, nullptr, nullptr);
    return ReadSignedDecimal(strAnsi);
}
