#include "core/ReleaseList.h"

#include <algorithm>
#include <iterator>

#include "support/Format.h"

namespace {

const char FIELD_GAP[] = "  ";
const size_t MAX_SIZE_DIGITS = 18; // fits a long long
const char TERM_PREFIX = ':';
const char SERIAL_NAME[] = ":serial";
const char EXPIRES_NAME[] = ":expires";

bool ParseLine(const std::string& strLine, ReleaseLine& line, const WCHAR*& pszProblem)
{
    const size_t cchHex = 2 * SHA256_BYTES;
    if (strLine.size() < cchHex + 2 || !ParseLowerHex(strLine.data(), cchHex, line.digest, SHA256_BYTES)
        || strLine.compare(cchHex, 2, FIELD_GAP) != 0) {
        pszProblem = L"no SHA-256 of 64 lowercase hex digits and two blanks";
        return false;
    }
    size_t nGap = strLine.find(FIELD_GAP, cchHex + 2);
    size_t cchSize = nGap == std::string::npos ? 0 : nGap - (cchHex + 2);
    if (cchSize == 0 || cchSize > MAX_SIZE_DIGITS || strLine.find_first_not_of("0123456789", cchHex + 2) != nGap) {
        pszProblem = L"no decimal size and two blanks";
        return false;
    }
    line.nSize = std::stoll(strLine.substr(cchHex + 2, cchSize));
    line.strName = strLine.substr(nGap + 2);
    bool bControl = std::any_of(line.strName.begin(), line.strName.end(),
        [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; });
    if (line.strName.empty() || bControl) {
        pszProblem = L"no name, or a control character in it";
        return false;
    }
    return true;
}

// A line of the release's terms: kept in terms, never taken for a file. Names of terms this installer
// does not know are passed over, so that later lists may add some.
bool ReadTerm(const ReleaseLine& line, ReleaseTerms& terms, const WCHAR*& pszProblem)
{
    if (std::any_of(std::begin(line.digest), std::end(line.digest), [](BYTE b) { return b != 0; })) {
        pszProblem = L"a term with a digest that is not all zeros";
        return false;
    }
    if (line.strName == SERIAL_NAME) {
        if (line.nSize == 0) {
            pszProblem = L"serial 0";
            return false;
        }
        terms.nSerial = line.nSize;
    } else if (line.strName == EXPIRES_NAME) {
        terms.llExpires = line.nSize;
    }
    return true;
}

} // namespace

bool ParseReleaseList(
    const BYTE* pBytes, size_t cb, std::vector<ReleaseLine>& vecLines, ReleaseTerms& terms, std::wstring& strReason)
{
    vecLines.clear();
    terms = ReleaseTerms();
    std::string strText(reinterpret_cast<const char*>(pBytes), cb);
    if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        strReason = L"malformed: byte-order mark";
        return false;
    }
    if (strText.empty() || strText.back() != '\n') {
        strReason = L"malformed: empty, or the last line has no LF";
        return false;
    }
    std::string strPrevious;
    unsigned nLine = 0;
    for (size_t nStart = 0; nStart < strText.size(); ++nLine) {
        size_t nEnd = strText.find('\n', nStart);
        ReleaseLine line;
        const WCHAR* pszProblem = nullptr;
        if (!ParseLine(strText.substr(nStart, nEnd - nStart), line, pszProblem)
            || (line.strName[0] == TERM_PREFIX && !ReadTerm(line, terms, pszProblem))) {
            strReason = FormatString(L"malformed: line %u: %s", nLine + 1, pszProblem);
            return false;
        }
        // Byte order, as std::string compares: a binary search finds each name.
        if (nLine > 0 && !(strPrevious < line.strName)) {
            strReason = FormatString(L"malformed: line %u: names not in increasing byte order", nLine + 1);
            return false;
        }
        strPrevious = line.strName;
        if (line.strName[0] != TERM_PREFIX)
            vecLines.push_back(line);
        nStart = nEnd + 1;
    }
    return true;
}

const ReleaseLine* FindReleaseLine(const std::vector<ReleaseLine>& vecLines, const std::string& strName)
{
    auto it = std::lower_bound(vecLines.begin(), vecLines.end(), strName,
        [](const ReleaseLine& line, const std::string& strKey) { return line.strName < strKey; });
    return it != vecLines.end() && it->strName == strName ? &*it : nullptr;
}

ReleaseVerdict JudgeRelease(const ReleaseTerms& terms, long long nInstalledSerial, long long llNow)
{
    // A list without a serial is older than any with one: it cannot replace a release that had one.
    if (terms.nSerial < nInstalledSerial)
        return ReleaseVerdict::OLDER_THAN_INSTALLED;
    if (terms.llExpires >= 0 && llNow >= terms.llExpires)
        return ReleaseVerdict::EXPIRED;
    return ReleaseVerdict::ACCEPTED;
}
