#include "core/rules/ReleaseList.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

const char FIELD_GAP[] = "  ";
const size_t HEX_DIGITS = 2 * SHA256_DIGEST_BYTES;
const size_t MAX_SIZE_DIGITS = 18;

ReleaseListProblem ParseLine(const std::string& strLine, ReleaseLine& line)
{
    if (strLine.size() < HEX_DIGITS + 2 || !ParseLowerHex(strLine.data(), HEX_DIGITS, line.digest, SHA256_DIGEST_BYTES)
        || strLine.compare(HEX_DIGITS, 2, FIELD_GAP) != 0)
        return ReleaseListProblem::NO_DIGEST;
    const size_t nGap = strLine.find(FIELD_GAP, HEX_DIGITS + 2);
    const size_t cchSize = nGap == std::string::npos ? 0 : nGap - (HEX_DIGITS + 2);
    if (cchSize == 0 || cchSize > MAX_SIZE_DIGITS || strLine.find_first_not_of("0123456789", HEX_DIGITS + 2) != nGap)
        return ReleaseListProblem::NO_SIZE;
    line.nSize = std::stoll(strLine.substr(HEX_DIGITS + 2, cchSize));
    line.strName = strLine.substr(nGap + 2);
    const bool bControl = std::any_of(line.strName.begin(), line.strName.end(),
        [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; });
    return line.strName.empty() || bControl ? ReleaseListProblem::NO_NAME : ReleaseListProblem::NONE;
}

// A line of the release's terms: kept in terms, never taken for a file.
ReleaseListProblem ReadTerm(const ReleaseLine& line, ReleaseTerms& terms)
{
    if (std::any_of(std::begin(line.digest), std::end(line.digest), [](uint8_t b) { return b != 0; }))
        return ReleaseListProblem::TERM_DIGEST;
    if (line.strName == SERIAL_TERM) {
        if (line.nSize == 0)
            return ReleaseListProblem::SERIAL_ZERO;
        terms.nSerial = line.nSize;
    } else if (line.strName == EXPIRES_TERM) {
        terms.llExpires = line.nSize;
    }
    return ReleaseListProblem::NONE;
}

ReleaseLine TermLine(const char* pszName, int64_t nValue)
{
    ReleaseLine line = {{}, nValue, pszName};
    return line;
}

} // namespace

bool ParseReleaseList(const uint8_t* pBytes, size_t cb, ReleaseList& list, ReleaseListError& error)
{
    list = ReleaseList();
    error = ReleaseListError();
    const std::string strText(reinterpret_cast<const char*>(pBytes), cb);
    if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0)
        error.problem = ReleaseListProblem::BYTE_ORDER_MARK;
    else if (strText.empty() || strText.back() != '\n')
        error.problem = ReleaseListProblem::NO_FINAL_LINE_FEED;
    std::string strPrevious;
    for (size_t nStart = 0; error.problem == ReleaseListProblem::NONE && nStart < strText.size();) {
        const size_t nEnd = strText.find('\n', nStart);
        ReleaseLine line = {};
        error.nLine += 1;
        error.problem = ParseLine(strText.substr(nStart, nEnd - nStart), line);
        error.strName = line.strName;
        // Byte order, as std::string compares: a binary search finds each name.
        if (error.problem == ReleaseListProblem::NONE && error.nLine > 1 && !(strPrevious < line.strName))
            error.problem = ReleaseListProblem::NAME_ORDER;
        if (error.problem == ReleaseListProblem::NONE && line.strName[0] == TERM_PREFIX)
            error.problem = ReadTerm(line, list.terms);
        else if (error.problem == ReleaseListProblem::NONE)
            list.vecFiles.push_back(line);
        strPrevious = line.strName;
        nStart = nEnd + 1;
    }
    if (error.problem == ReleaseListProblem::NONE) {
        error = ReleaseListError();
        return true;
    }
    list = ReleaseList();
    return false;
}

std::string FormatReleaseList(const ReleaseList& list)
{
    std::vector<ReleaseLine> vecLines = list.vecFiles;
    if (list.terms.nSerial > 0)
        vecLines.push_back(TermLine(SERIAL_TERM, list.terms.nSerial));
    if (list.terms.llExpires >= 0)
        vecLines.push_back(TermLine(EXPIRES_TERM, list.terms.llExpires));
    std::sort(vecLines.begin(), vecLines.end(),
        [](const ReleaseLine& a, const ReleaseLine& b) { return a.strName < b.strName; });
    std::string strText;
    for (const ReleaseLine& line : vecLines)
        strText += LowerHex(line.digest, SHA256_DIGEST_BYTES) + FIELD_GAP + std::to_string(line.nSize) + FIELD_GAP
            + line.strName + "\n";
    return strText;
}

const ReleaseLine* FindReleaseLine(const ReleaseList& list, const std::string& strName)
{
    auto it = std::lower_bound(list.vecFiles.begin(), list.vecFiles.end(), strName,
        [](const ReleaseLine& line, const std::string& strKey) { return line.strName < strKey; });
    return it != list.vecFiles.end() && it->strName == strName ? &*it : nullptr;
}

ReleaseVerdict JudgeRelease(const ReleaseTerms& terms, int64_t nInstalledSerial, int64_t llNow)
{
    if (terms.nSerial < nInstalledSerial)
        return ReleaseVerdict::OLDER_THAN_INSTALLED;
    if (terms.llExpires >= 0 && llNow >= terms.llExpires)
        return ReleaseVerdict::EXPIRED;
    return ReleaseVerdict::ACCEPTED;
}

std::string DescribeSerial(const ReleaseTerms& terms)
{
    return terms.nSerial > 0 ? "serial " + std::to_string(terms.nSerial) : "no serial";
}

std::string DescribeExpiry(const ReleaseTerms& terms)
{
    return terms.llExpires >= 0 ? "expires " + UtcTimeText(terms.llExpires) : "no expiry";
}

std::string UtcTimeText(int64_t llTime)
{
    // Days since 1970 to the calendar, counted in 400-year eras from 0000-03-01 so that the leap day
    // ends each year.
    const int64_t nDays = llTime / 86400 - (llTime % 86400 < 0 ? 1 : 0);
    const int64_t nSeconds = llTime - nDays * 86400;
    const int64_t nShiftedDays = nDays + 719468;
    const int64_t nEra = (nShiftedDays >= 0 ? nShiftedDays : nShiftedDays - 146096) / 146097;
    const int64_t nDayOfEra = nShiftedDays - nEra * 146097;
    const int64_t nYearOfEra = (nDayOfEra - nDayOfEra / 1460 + nDayOfEra / 36524 - nDayOfEra / 146096) / 365;
    const int64_t nDayOfYear = nDayOfEra - (365 * nYearOfEra + nYearOfEra / 4 - nYearOfEra / 100);
    const int64_t nMonthFromMarch = (5 * nDayOfYear + 2) / 153;
    const int64_t nDay = nDayOfYear - (153 * nMonthFromMarch + 2) / 5 + 1;
    const int64_t nMonth = nMonthFromMarch < 10 ? nMonthFromMarch + 3 : nMonthFromMarch - 9;
    const int64_t nYear = nYearOfEra + nEra * 400 + (nMonth <= 2 ? 1 : 0);
    char szText[160]; // room for six fields as wide as an int64_t can print
    std::snprintf(szText, sizeof(szText),
        "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02" PRId64 ":%02" PRId64 ":%02" PRId64 " UTC", nYear, nMonth, nDay,
        nSeconds / 3600, nSeconds / 60 % 60, nSeconds % 60);
    return szText;
}

std::string LowerHex(const uint8_t* pBytes, size_t cb)
{
    static const char s_szDigits[] = "0123456789abcdef";
    std::string strHex;
    for (size_t i = 0; i < cb; ++i) {
        strHex += s_szDigits[pBytes[i] >> 4];
        strHex += s_szDigits[pBytes[i] & 15];
    }
    return strHex;
}
