#include <vector>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "core/rules/ReleaseList.h"
#include "support/Cng.h"
#include "support/Format.h"
#include "support/Log.h"
#include "system/UninstallEntry.h"

// A build with a release key installs only what the release's owner signed. Without a key every
// step here passes at once and logs nothing.

namespace {

const WCHAR SIGNATURE_REFUSED[] = L"安装包签名无效";

bool IsSigned()
{
    return !g_strReleaseKey.empty();
}

// FILETIME counts 100 ns from 1601; Unix time seconds from 1970.
const long long UNIX_EPOCH_SECONDS = 11644473600LL;
const long long FILETIME_PER_SECOND = 10000000LL;

long long UnixNow()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER value = {{ft.dwLowDateTime, ft.dwHighDateTime}};
    return static_cast<long long>(value.QuadPart / FILETIME_PER_SECOND) - UNIX_EPOCH_SECONDS;
}

// Unix seconds as "2026-12-09 18:00" in the machine's own time; "?" when no date has them.
std::wstring LocalTimeText(long long llSeconds)
{
    SYSTEMTIME utc = {};
    SYSTEMTIME local = {};
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(llSeconds + UNIX_EPOCH_SECONDS) * FILETIME_PER_SECOND;
    FILETIME ft = {value.LowPart, value.HighPart};
    if (llSeconds < 0 || !FileTimeToSystemTime(&ft, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return L"?";
    return FormatString(L"%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute);
}

std::wstring Wide(const std::string& strAscii)
{
    return std::wstring(strAscii.begin(), strAscii.end());
}

} // namespace

void CSetupDlg::RefuseRelease(const WCHAR* pszMessage)
{
    m_bReleaseRefused = true;
    ShowError(pszMessage);
}

bool CSetupDlg::FetchReleaseList()
{
    m_bReleaseRefused = false;
    if (!IsSigned())
        return true;
    std::wstring strMessage;
    if (AtEachBaseUrl(
            L"release.sha256", [&](const std::wstring& strUrl) { return AcceptReleaseList(strUrl, strMessage); }))
        return true;
    if (!StopRequested())
        RefuseRelease(strMessage.c_str());
    return false;
}

bool CSetupDlg::AcceptReleaseList(const std::wstring& strUrl, std::wstring& strMessage)
{
    strMessage = SIGNATURE_REFUSED;
    std::wstring strFile = L"release.sha256";
    std::wstring strReason = L"download failed";
    LogNormal(L"[CSetupDlg::CheckRelease] start download  %s", strUrl.c_str());
    bool bSigned = false;
    if (DownloadToRecvBuffer(strUrl.c_str(), L"release.sha256", static_cast<long long>(RELEASE_LIST_LIMIT))) {
        // Copied out: the signature arrives in the same block.
        std::vector<BYTE> list(m_pRecvBuf, m_pRecvBuf + m_nRecvLen);
        strFile = L"release.sha256.sig";
        bSigned = DownloadToRecvBuffer(
                      (strUrl + L".sig").c_str(), L"release.sha256.sig", static_cast<long long>(P256_SIGNATURE_BYTES))
            && m_release.Accept(g_strReleaseKey, list.data(), static_cast<int>(list.size()), m_pRecvBuf, m_nRecvLen,
                strFile, strReason);
    }
    if (!bSigned) {
        LogError(L"[CSetupDlg::CheckRelease] %s %s", strFile.c_str(), strReason.c_str());
        return false;
    }

    const ReleaseTerms& terms = m_release.Terms();
    const int64_t nInstalled = ReadInstalledReleaseSerial();
    const int64_t llNow = UnixNow();
    LogNormal(L"[CSetupDlg::CheckRelease] release.sha256 signature valid, %u files listed, %s (installed: %I64d), %s",
        static_cast<unsigned>(m_release.Count()), Wide(DescribeSerial(terms)).c_str(), nInstalled,
        Wide(DescribeExpiry(terms)).c_str());
    switch (JudgeRelease(terms, nInstalled, llNow)) {
    case ReleaseVerdict::ACCEPTED:
        return true;
    case ReleaseVerdict::OLDER_THAN_INSTALLED:
        LogError(L"[CSetupDlg::CheckRelease] release.sha256 serial %I64d is below the installed release's %I64d",
            terms.nSerial, nInstalled);
        strMessage = L"安装包比已安装的版本旧";
        return false;
    case ReleaseVerdict::EXPIRED:
        // The date in the user's own time, so that a clock set wrong is seen for what it is.
        LogError(L"[CSetupDlg::CheckRelease] release.sha256 expired at %s, the clock says %s",
            Wide(UtcTimeText(terms.llExpires)).c_str(), Wide(UtcTimeText(llNow)).c_str());
        strMessage = FormatString(L"安装包已于%s过期，请检查电脑的日期和时间", LocalTimeText(terms.llExpires).c_str());
        return false;
    }
    return false;
}

long long CSetupDlg::ListedLimit(const WCHAR* pszName) const
{
    return IsSigned() ? m_release.ListedSize(pszName) : -1;
}

bool CSetupDlg::ReceivedMatchesRelease(const WCHAR* pszName, CDownloadState& state)
{
    if (!IsSigned())
        return true;
    // Taken as the bytes arrived; hashed here only when that could not be had.
    BYTE digest[SHA256_DIGEST_BYTES];
    const bool bDigest = state.BodyDigest(m_pRecvBuf, m_nRecvLen, digest);
    std::wstring strProblem = m_release.Compare(pszName, m_pRecvBuf, m_nRecvLen, bDigest ? digest : nullptr);
    if (!strProblem.empty()) {
        LogError(L"[CSetupDlg::CheckRelease] %s %s", pszName, strProblem.c_str());
        return false;
    }
    LogNormal(L"[CSetupDlg::CheckRelease] %s matches", pszName);
    return true;
}

bool CSetupDlg::RefusedByRelease(const WCHAR* pszName, bool bDownloaded, CDownloadState& state)
{
    return bDownloaded ? !ReceivedMatchesRelease(pszName, state) : state.m_bPastLimit;
}

void CSetupDlg::LogPastListedSize(const WCHAR* pszName, const CDownloadState& state)
{
    if (state.m_bPastLimit)
        LogError(
            L"[CSetupDlg::CheckRelease] %s size mismatch: longer than listed, %I64d bytes", pszName, state.BodyLimit());
}

bool CSetupDlg::ReleaseListsEveryPackage()
{
    const PackageEntry* pEntry = IsSigned() ? m_release.FirstUnlisted(m_vecPackages) : nullptr;
    if (pEntry == nullptr)
        return true;
    LogError(L"[CSetupDlg::CheckRelease] %s not listed", pEntry->szName);
    RefuseRelease();
    return false;
}
