#include "Signing.h"

namespace publish {

bool ReadReleaseList(const std::string& text, ReleaseList& list, std::string& error)
{
    ReleaseListError problem;
    if (ParseReleaseList(reinterpret_cast<const uint8_t*>(text.data()), text.size(), list, problem))
        return true;
    const std::string where = std::string(RELEASE_LIST_NAME) + " line " + std::to_string(problem.nLine) + ": ";
    switch (problem.problem) {
    case ReleaseListProblem::NONE:
    case ReleaseListProblem::BYTE_ORDER_MARK:
    case ReleaseListProblem::NO_FINAL_LINE_FEED:
        error = std::string(RELEASE_LIST_NAME) + " has a byte-order mark, no line, or no LF at its end";
        break;
    case ReleaseListProblem::NO_DIGEST:
    case ReleaseListProblem::NO_SIZE:
        error = where + "not \"<64 lowercase hex>  <size>  <name>\"";
        break;
    case ReleaseListProblem::NO_NAME:
        error = where + "no name, or a control character in it";
        break;
    case ReleaseListProblem::NAME_ORDER:
        error = where + "names are not in increasing byte order";
        break;
    case ReleaseListProblem::TERM_DIGEST:
        error = where + problem.strName + " has a digest other than 64 zeros";
        break;
    case ReleaseListProblem::SERIAL_ZERO:
        error = where + "the serial is 0; serials start at 1";
        break;
    }
    return false;
}

std::string DescribeTerms(const ReleaseTerms& terms)
{
    return DescribeSerial(terms) + ", " + DescribeExpiry(terms);
}

std::string LowerHex(const std::string& bytes)
{
    return ::LowerHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool ParsePublicKey(const std::string& hex, std::string& point, std::string& error)
{
    uint8_t parsed[P256_POINT_BYTES];
    if (!::ParsePublicKey(hex, parsed)) {
        error = "a public key is 04 and 128 lowercase hex digits (as keygen prints it)";
        return false;
    }
    point.assign(reinterpret_cast<const char*>(parsed), sizeof(parsed));
    return true;
}

} // namespace publish
