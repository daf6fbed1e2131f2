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

struct ListedFile {
    std::string name;
    std::string digest; // 32 bytes
    uint64_t size = 0;
};

// "<64 lowercase hex>  <decimal size>  <name>" and LF per file, sorted by name in byte order.
std::string ReleaseListFile(std::vector<ListedFile> files);
// Reads a list as the installer does: no byte-order mark, LF after every line, names strictly increasing.
bool ParseReleaseList(const std::string& text, std::vector<ListedFile>& files, std::string& error);

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
