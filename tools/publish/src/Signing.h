#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Signed releases: release.sha256 lists the SHA-256 and size of every other served file, and
// release.sha256.sig is the ECDSA P-256 signature of its exact bytes as r || s (32 bytes each).
namespace publish {

constexpr size_t kDigestBytes = 32;
constexpr size_t kPointBytes = 65; // 04 || X || Y
constexpr size_t kSignatureBytes = 64;
constexpr const char* kReleaseList = "release.sha256";
constexpr const char* kReleaseSignature = "release.sha256.sig";
// The list's own facts are lines with these names (no served name has a colon), 64 zeros for a digest and
// the value in the size field; other names beginning with ':' are kept free for later and skipped.
constexpr char kReservedPrefix = ':';
constexpr const char* kSerialName = ":serial";
constexpr const char* kExpiresName = ":expires";
// A size field holds at most 18 digits, as the installer reads it.
constexpr uint64_t kMaxListedNumber = 999999999999999999ULL;

struct ListedFile {
    std::string name;
    std::string digest; // 32 bytes
    uint64_t size = 0;
};

struct ReleaseStamp {
    uint64_t serial = 0; // 0: no :serial line, as in lists from before serials
    bool expiring = false;
    int64_t expires = 0; // seconds since 1970-01-01 UTC, when expiring
};

struct ReleaseList {
    std::vector<ListedFile> files; // served files only, never the reserved lines
    ReleaseStamp stamp;
};

// "<64 lowercase hex>  <decimal size>  <name>" and LF per line, sorted by name in byte order.
std::string ReleaseListFile(const ReleaseList& list);
// Reads a list as the installer does: no byte-order mark, LF after every line, names strictly increasing.
bool ParseReleaseList(const std::string& text, ReleaseList& list, std::string& error);
// "serial 7, expires 2027-01-09 04:59:14 UTC", or "no serial, no expiry" for an old list.
std::string DescribeStamp(const ReleaseStamp& stamp);
// "YYYY-MM-DD HH:MM:SS UTC" for seconds since 1970-01-01 UTC.
std::string UtcTimeText(int64_t time);

std::string LowerHex(const std::string& bytes);
// Exactly 2 x `bytes` lowercase hex digits.
bool ParseLowerHex(const std::string& hex, size_t bytes, std::string& out);
// The 130 hex digits of an uncompressed P-256 point.
bool ParsePublicKey(const std::string& hex, std::string& point, std::string& error);

// A private key as read from its PEM file (SEC1 "EC PRIVATE KEY" or PKCS#8 "PRIVATE KEY").
struct SigningKey {
    std::string pem;
    std::string point; // its public point, uncompressed
};

// Platform cryptography: OpenSSL's libcrypto natively; on Windows CNG, which here only checks.
bool Sha256(const std::string& data, std::string& digest, std::string& error);
// False with "signature invalid" when `signature` does not sign `message` under `point`.
bool VerifySignature(
    const std::string& point, const std::string& message, const std::string& signature, std::string& error);
bool LoadSigningKey(const std::string& path, SigningKey& key, std::string& error);
bool Sign(const SigningKey& key, const std::string& message, std::string& signature, std::string& error);
// A new P-256 key in a new file readable by its owner only; never replaces an existing file.
bool GenerateSigningKey(const std::string& path, std::string& point, std::string& error);

} // namespace publish
