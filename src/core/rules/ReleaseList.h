#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/rules/KeySizes.h"

// release.sha256, the list a release's owner signs, and its signature release.sha256.sig: the format
// that the publisher writes and checks and the installer reads, in one place.

const char RELEASE_LIST_NAME[] = "release.sha256";
const char RELEASE_SIGNATURE_NAME[] = "release.sha256.sig";
// A list of a few hundred lines is some kilobytes: none is read past this.
const size_t RELEASE_LIST_LIMIT = 1 << 20;

// One line: "<64 lowercase hex digits of the SHA-256>  <decimal size>  <name>" (two blanks apart).
struct ReleaseLine {
    uint8_t digest[SHA256_DIGEST_BYTES];
    int64_t nSize;
    std::string strName; // UTF-8, as it follows the base URL
};

// What the list says of the release itself, in lines of the same form whose names begin with ':' (no
// served file can have a colon in its name), an all-zero digest and the value in the size field, so
// that installers that know nothing of them read such a list as before: ":serial", a number that only
// grows from one release to the next, and ":expires", Unix seconds (UTC). Other names beginning with
// ':' are passed over, free for later terms.
const char TERM_PREFIX = ':';
const char SERIAL_TERM[] = ":serial";
const char EXPIRES_TERM[] = ":expires";
// A size field holds at most 18 digits.
const int64_t MAX_LISTED_NUMBER = 999999999999999999LL;

struct ReleaseTerms {
    int64_t nSerial = 0; // 0: a list made before releases had serials
    int64_t llExpires = -1; // -1: never expires
};

struct ReleaseList {
    std::vector<ReleaseLine> vecFiles; // sorted by name; never the terms' lines
    ReleaseTerms terms;
};

// Why a list is malformed; each program words it in its own output.
enum class ReleaseListProblem {
    NONE,
    BYTE_ORDER_MARK,
    NO_FINAL_LINE_FEED, // or empty
    NO_DIGEST, // not 64 lowercase hex digits and two blanks
    NO_SIZE, // not 1 to 18 decimal digits and two blanks
    NO_NAME, // empty, or with a control character
    NAME_ORDER, // not above the previous line's name in byte order
    TERM_DIGEST, // a term whose digest is not all zeros
    SERIAL_ZERO,
};

struct ReleaseListError {
    ReleaseListProblem problem = ReleaseListProblem::NONE;
    unsigned nLine = 0; // 1-based; 0 for the whole list
    std::string strName; // the line's name, where it has one
};

// Reads the whole list: UTF-8 without byte-order mark, every line ended by LF, names in strictly
// increasing byte order. Stops at the first line that breaks the format.
bool ParseReleaseList(const uint8_t* pBytes, size_t cb, ReleaseList& list, ReleaseListError& error);
// The list's text: a line per file and per term that is set, sorted by name in byte order.
std::string FormatReleaseList(const ReleaseList& list);
// The line for a name, found by its UTF-8 bytes, or nullptr.
const ReleaseLine* FindReleaseLine(const ReleaseList& list, const std::string& strName);

enum class ReleaseVerdict {
    ACCEPTED,
    OLDER_THAN_INSTALLED, // a serial below the installed release's: a rollback to a release with known faults
    EXPIRED, // its expiry has passed: a server or path that keeps serving an old release
};

// Whether a signed list's terms admit it on a machine whose installed release has nInstalledSerial
// (0: none, or one without a serial), at llNow Unix seconds. The same serial installs again (a repair);
// a list without a serial is older than any with one.
ReleaseVerdict JudgeRelease(const ReleaseTerms& terms, int64_t nInstalledSerial, int64_t llNow);

// "serial 7" or "no serial"; "expires 2027-01-09 04:59:14 UTC" or "no expiry".
std::string DescribeSerial(const ReleaseTerms& terms);
std::string DescribeExpiry(const ReleaseTerms& terms);
// "YYYY-MM-DD HH:MM:SS UTC" for Unix seconds, in the proleptic Gregorian calendar.
std::string UtcTimeText(int64_t llTime);

std::string LowerHex(const uint8_t* pBytes, size_t cb);

// Exactly 2 x cbOut lowercase hex digits into cbOut bytes.
template <typename CHAR> bool ParseLowerHex(const CHAR* pDigits, size_t cchDigits, uint8_t* pOut, size_t cbOut)
{
    if (cchDigits != 2 * cbOut)
        return false;
    for (size_t i = 0; i < cchDigits; ++i) {
        const CHAR ch = pDigits[i];
        const int nValue = ch >= '0' && ch <= '9' ? ch - '0' : (ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1);
        if (nValue < 0)
            return false;
        pOut[i / 2] = static_cast<uint8_t>(i % 2 == 0 ? nValue << 4 : pOut[i / 2] | nValue);
    }
    return true;
}

// A release key: the 130 lowercase hex digits of an uncompressed P-256 point, 04 first.
template <typename CHAR> bool ParsePublicKey(const std::basic_string<CHAR>& strHex, uint8_t (&point)[P256_POINT_BYTES])
{
    return ParseLowerHex(strHex.data(), strHex.size(), point, P256_POINT_BYTES) && point[0] == 0x04;
}
