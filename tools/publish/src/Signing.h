#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/rules/ReleaseList.h"

// Signed releases: release.sha256 lists the SHA-256 and size of every other served file, and
// release.sha256.sig is the ECDSA P-256 signature of its exact bytes as r || s (32 bytes each). The list's
// format is the shared one (core/rules/ReleaseList.h); here are the publisher's words for it and its keys.
namespace publish {

// Reads a list as the installer does; false with the publisher's wording of the problem.
bool ReadReleaseList(const std::string& text, ReleaseList& list, std::string& error);
// "serial 7, expires 2027-01-09 04:59:14 UTC", or "no serial, no expiry" for an old list.
std::string DescribeTerms(const ReleaseTerms& terms);

std::string LowerHex(const std::string& bytes);
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
