#include <memory>

#include "core/SetupDlg.h"
#include "core/ZipLayer.h"
#include "support/Log.h"

namespace {

struct ZipCloser {
    void operator()(ZipArchive* hZip) const { CloseZipArchive(hZip); }
};

// Extracts every item of an opened archive into pszFolder; pszArchive names it in the records.
BOOL ExtractAll(
    ZipHandle hZip, const WCHAR* pszArchive, const WCHAR* pszFolder, const std::atomic<bool>* pbStop, bool* pbDiskFull)
{
    std::unique_ptr<ZipArchive, ZipCloser> zip(hZip);
    if (!zip) {
        LogError(L"[CSetupDlg::UnZip] OpenZip %s failed", pszArchive);
        return FALSE;
    }
    SetZipTargetFolder(zip.get(), pszFolder);

    ZipItemInfo info = {};
    QueryZipItem(zip.get(), -1, &info);
    int nCount = info.nIndex;
    for (int i = 0; i < nCount; ++i) {
        if (pbStop != nullptr && pbStop->load()) {
            LogNormal(L"[CSetupDlg::UnZip] stopped before item %d of %s", i, pszArchive);
            return FALSE;
        }
        // Within the count a query fails only on a damaged record; skipping that item would report
        // a partial installation as complete.
        if (QueryZipItem(zip.get(), i, &info) != ZR_OK) {
            LogError(L"[CSetupDlg::UnZip] QueryZipItem %d failed", i);
            return FALSE;
        }
        if (info.nCompressedSize == 0 || info.szName[0] == L'\0')
            continue;
        DWORD dwResult = UnzipItem(zip.get(), i, info.szName);
        if (dwResult != ZR_OK) {
            LogError(L"[CSetupDlg::UnZip] UnzipItem %s failed", info.szName);
            if (pbDiskFull != nullptr && dwResult == ZR_DISK_FULL)
                *pbDiskFull = true;
            return FALSE;
        }
    }
    return TRUE;
}

} // namespace

BOOL CSetupDlg::UnZip(const WCHAR* pszArchive, const WCHAR* pszFolder, const std::atomic<bool>* pbStop)
{
    if (pszArchive == nullptr || pszFolder == nullptr) {
        LogError(L"[CSetupDlg::UnZip] 原文件=%s  目标文件=%s", pszArchive, pszFolder);
        return FALSE;
    }
    return ExtractAll(OpenZip(pszArchive, nullptr), pszArchive, pszFolder, pbStop, nullptr);
}

BOOL CSetupDlg::UnZipBlock(const BYTE* pbArchive, int cbArchive, const WCHAR* pszArchive, const WCHAR* pszFolder,
    const std::atomic<bool>* pbStop, bool* pbDiskFull)
{
    if (pbArchive == nullptr || cbArchive < 0 || pszArchive == nullptr || pszFolder == nullptr) {
        LogError(L"[CSetupDlg::UnZip] 原文件=%s  目标文件=%s", pszArchive, pszFolder);
        return FALSE;
    }
    return ExtractAll(
        OpenZipBlock(pbArchive, static_cast<size_t>(cbArchive)), pszArchive, pszFolder, pbStop, pbDiskFull);
}
