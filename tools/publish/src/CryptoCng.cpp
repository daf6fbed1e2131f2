#include "Signing.h"

#include "support/Cng.h"

#include <cstring>

// The Windows build checks signed releases with CNG; it neither makes keys nor signs, which keeps
// private keys on the Linux publishing machine, where OpenSSL reads their PEM files.
namespace publish {

namespace {

const char kNoSigning[] = "this Windows build of mirevale-publish only checks signatures; "
                          "make keys and sign with the Linux build (OpenSSL)";

} // namespace

bool Sha256(const std::string& data, std::string& digest, std::string& error)
{
    BYTE buffer[SHA256_DIGEST_BYTES];
    const NTSTATUS status = ::Sha256(reinterpret_cast<const BYTE*>(data.data()), data.size(), buffer);
    if (!BCRYPT_SUCCESS(status)) {
        error = "SHA-256 failed (CNG status " + std::to_string(static_cast<unsigned long>(status)) + ")";
        return false;
    }
    digest.assign(reinterpret_cast<const char*>(buffer), sizeof buffer);
    return true;
}

bool VerifySignature(
    const std::string& point, const std::string& message, const std::string& signature, std::string& error)
{
    BYTE key[P256_POINT_BYTES];
    BYTE raw[P256_SIGNATURE_BYTES];
    if (point.size() != sizeof key || signature.size() != sizeof raw) {
        error = "signature invalid";
        return false;
    }
    std::memcpy(key, point.data(), sizeof key);
    std::memcpy(raw, signature.data(), sizeof raw);
    const NTSTATUS status = VerifyP256(key, reinterpret_cast<const BYTE*>(message.data()), message.size(), raw);
    if (status == CNG_INVALID_SIGNATURE)
        error = "signature invalid";
    else if (!BCRYPT_SUCCESS(status))
        error = "cannot check the signature (CNG status " + std::to_string(static_cast<unsigned long>(status)) + ")";
    return BCRYPT_SUCCESS(status);
}

bool LoadSigningKey(const std::string&, SigningKey&, std::string& error)
{
    error = kNoSigning;
    return false;
}

bool Sign(const SigningKey&, const std::string&, std::string&, std::string& error)
{
    error = kNoSigning;
    return false;
}

bool GenerateSigningKey(const std::string&, std::string&, std::string& error)
{
    error = kNoSigning;
    return false;
}

} // namespace publish
