#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/Cng.h"

// Rules of release.sha256, the list a release's owner signs, that need no download and no key.

// One line: "<64 lowercase hex digits of the SHA-256>  <decimal size>  <name>" (two blanks apart).
struct ReleaseLine {
    BYTE digest[SHA256_BYTES];
    long long nSize;
    std::string strName; // UTF-8, as it follows the base URL
};

// What the list says of the release itself, in lines of the same form whose names begin with ':'
// (no served file can have a colon in its name), an all-zero digest and the value in the size
// field, so that installers that know nothing of them read such a list as before: ":serial", a number
// that only grows from one release to the next, and ":expires", Unix seconds (UTC).
struct ReleaseTerms {
    long long nSerial = 0; // 0: a list made before releases had serials
    long long llExpires = -1; // -1: never expires
};

// Reads the whole list: UTF-8 without byte-order mark, every line ended by LF, names in strictly
// increasing byte order. On the first line that breaks the format, false with the reason for the log.
bool ParseReleaseList(
    const BYTE* pBytes, size_t cb, std::vector<ReleaseLine>& vecLines, ReleaseTerms& terms, std::wstring& strReason);

// The line for a name, found by its UTF-8 bytes in the sorted lines, or nullptr.
const ReleaseLine* FindReleaseLine(const std::vector<ReleaseLine>& vecLines, const std::string& strName);

enum class ReleaseVerdict {
    ACCEPTED,
    OLDER_THAN_INSTALLED, // a serial below the installed release's: a rollback to a release with known faults
    EXPIRED, // its expiry has passed: a server or path that keeps serving an old release
};

// Whether a signed list's terms admit it on a machine whose installed release has nInstalledSerial
// (0: none, or one without a serial), at llNow Unix seconds. The same serial installs again (a repair).
ReleaseVerdict JudgeRelease(const ReleaseTerms& terms, long long nInstalledSerial, long long llNow);

// Exactly 2 x cbOut lowercase hex digits into cbOut bytes.
template <typename CHAR> bool ParseLowerHex(const CHAR* pDigits, size_t cchDigits, BYTE* pOut, size_t cbOut)
{
    if (cchDigits != 2 * cbOut)
        return false;
    for (size_t i = 0; i < cchDigits; ++i) {
        CHAR ch = pDigits[i];
        int nValue = ch >= '0' && ch <= '9' ? ch - '0' : (ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1);
        if (nValue < 0)
            return false;
        pOut[i / 2] = static_cast<BYTE>(i % 2 == 0 ? nValue << 4 : pOut[i / 2] | nValue);
    }
    return true;
}
