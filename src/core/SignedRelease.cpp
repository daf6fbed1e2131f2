#include <vector>

#include "app/Globals.h"
#include "core/SetupDlg.h"
#include "support/Cng.h"
#include "support/Format.h"
#include "support/Log.h"
#include "system/UninstallEntry.h"

// A build with a release key installs only what the release's owner signed. Without a key every
// step here passes at once and logs nothing.

namespace {

// Read to at most this: a list of a few hundred lines is some kilobytes.
const long long RELEASE_LIST_LIMIT = 1 << 20;
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

// Unix seconds as "2026-12-09 18:00:00", in UTC or in the machine's local time; "?" when no date has them.
std::wstring FormatUnixTime(long long llSeconds, bool bLocal, bool bSeconds = true)
{
    SYSTEMTIME utc = {};
    SYSTEMTIME local = {};
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(llSeconds + UNIX_EPOCH_SECONDS) * FILETIME_PER_SECOND;
    FILETIME ft = {value.LowPart, value.HighPart};
    if (llSeconds < 0 || !FileTimeToSystemTime(&ft, &utc)
        || (bLocal && !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)))
        return L"?";
    const SYSTEMTIME& st = bLocal ? local : utc;
    return bSeconds
        ? FormatString(L"%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond)
        : FormatString(L"%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
}

std::wstring DescribeTerms(const ReleaseTerms& terms, long long nInstalledSerial)
{
    std::wstring strSerial = terms.nSerial > 0 ? FormatString(L"serial %I64d", terms.nSerial) : L"no serial";
    std::wstring strExpiry = terms.llExpires >= 0
        ? FormatString(L"expires %s UTC", FormatUnixTime(terms.llExpires, false).c_str())
        : L"no expiry";
    return FormatString(L"%s (installed: %I64d), %s", strSerial.c_str(), nInstalledSerial, strExpiry.c_str());
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
    std::wstring strUrl;
    std::wstring strMessage;
    for (size_t nBase = 0; nBase < BaseUrlCount(); ++nBase) {
        std::wstring strFailed = strUrl;
        strUrl = BaseUrlAt(nBase) + L"release.sha256";
        if (nBase > 0)
            LogFallback(strFailed, strUrl);
        if (AcceptReleaseList(strUrl, strMessage))
            return true;
        if (StopRequested())
            return false;
    }
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
    if (DownloadToRecvBuffer(strUrl.c_str(), L"release.sha256", RELEASE_LIST_LIMIT)) {
        // Copied out: the signature arrives in the same block.
        std::vector<BYTE> list(m_pRecvBuf, m_pRecvBuf + m_nRecvLen);
        strFile = L"release.sha256.sig";
        bSigned = DownloadToRecvBuffer((strUrl + L".sig").c_str(), L"release.sha256.sig", P256_SIGNATURE_BYTES)
            && m_release.Accept(g_strReleaseKey, list.data(), static_cast<int>(list.size()), m_pRecvBuf, m_nRecvLen,
                strFile, strReason);
    }
    if (!bSigned) {
        LogError(L"[CSetupDlg::CheckRelease] %s %s", strFile.c_str(), strReason.c_str());
        return false;
    }

    const ReleaseTerms& terms = m_release.Terms();
    const long long nInstalled = ReadInstalledReleaseSerial();
    const long long llNow = UnixNow();
    LogNormal(L"[CSetupDlg::CheckRelease] release.sha256 signature valid, %u files listed, %s",
        static_cast<unsigned>(m_release.Count()), DescribeTerms(terms, nInstalled).c_str());
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
        LogError(L"[CSetupDlg::CheckRelease] release.sha256 expired at %s UTC, the clock says %s UTC",
            FormatUnixTime(terms.llExpires, false).c_str(), FormatUnixTime(llNow, false).c_str());
        strMessage = FormatString(
            L"安装包已于%s过期，请检查电脑的日期和时间", FormatUnixTime(terms.llExpires, true, false).c_str());
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
    BYTE digest[SHA256_BYTES];
    const bool bDigest = state.BodyDigest(m_pRecvBuf, m_nRecvLen, digest);
    std::wstring strProblem = m_release.Compare(pszName, m_pRecvBuf, m_nRecvLen, bDigest ? digest : nullptr);
    if (!strProblem.empty()) {
        LogError(L"[CSetupDlg::CheckRelease] %s %s", pszName, strProblem.c_str());
        return false;
    }
    LogNormal(L"[CSetupDlg::CheckRelease] %s matches", pszName);
    return true;
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
