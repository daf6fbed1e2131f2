#include "Platform.h"
#include "Signing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace publish {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

std::string LibraryError(const std::string& what)
{
    char text[256] = "no detail";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return what + " (" + text + ")";
}

// A key file must not wait for a passphrase on the terminal.
int NoPassphrase(char*, int, int, void*)
{
    return -1;
}

// The key's public point, uncompressed, when it is a P-256 key.
bool PublicPoint(EVP_PKEY* key, std::string& point, std::string& error)
{
    char group[32] = "";
    if (!EVP_PKEY_is_a(key, "EC")
        || !EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, nullptr)
        || std::strcmp(group, "prime256v1") != 0) {
        error = "the key is not an EC key on P-256 (prime256v1)";
        return false;
    }
    unsigned char buffer[P256_POINT_BYTES];
    size_t length = 0;
    if (!EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "uncompressed")
        || !EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, buffer, sizeof buffer, &length)
        || length != P256_POINT_BYTES) {
        error = LibraryError("cannot read the key's public point");
        return false;
    }
    point.assign(reinterpret_cast<const char*>(buffer), length);
    return true;
}

Pkey PublicKey(const std::string& point, std::string& error)
{
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<char*>(point.data()), point.size()),
        OSSL_PARAM_construct_end(),
    };
    PkeyCtx context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!context || EVP_PKEY_fromdata_init(context.get()) <= 0
        || EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0)
        error = LibraryError("the public key is not a point on P-256");
    return Pkey(key);
}

} // namespace

bool Sha256(const std::string& data, std::string& digest, std::string& error)
{
    unsigned char buffer[SHA256_DIGEST_BYTES];
    if (!EVP_Digest(data.data(), data.size(), buffer, nullptr, EVP_sha256(), nullptr)) {
        error = LibraryError("SHA-256 failed");
        return false;
    }
    digest.assign(reinterpret_cast<const char*>(buffer), sizeof buffer);
    return true;
}

bool VerifySignature(
    const std::string& point, const std::string& message, const std::string& signature, std::string& error)
{
    if (signature.size() != P256_SIGNATURE_BYTES) {
        error = "signature invalid";
        return false;
    }
    Pkey key = PublicKey(point, error);
    if (!key)
        return false;
    // CNG's r || s as the DER SEQUENCE OpenSSL verifies.
    EcdsaSig sig(ECDSA_SIG_new());
    const auto* bytes = reinterpret_cast<const unsigned char*>(signature.data());
    BIGNUM* r = BN_bin2bn(bytes, P256_SIGNATURE_BYTES / 2, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + P256_SIGNATURE_BYTES / 2, P256_SIGNATURE_BYTES / 2, nullptr);
    if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        error = LibraryError("cannot read the signature");
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    MdCtx context(EVP_MD_CTX_new());
    const int verified
        = derLength > 0 && context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) > 0
        ? EVP_DigestVerify(context.get(), der, static_cast<size_t>(derLength),
            reinterpret_cast<const unsigned char*>(message.data()), message.size())
        : -1;
    OPENSSL_free(der);
    if (verified != 1)
        error = verified == 0 ? "signature invalid" : LibraryError("cannot check the signature");
    ERR_clear_error();
    return verified == 1;
}

bool LoadSigningKey(const std::string& path, SigningKey& key, std::string& error)
{
    if (!ReadWholeFile(path, key.pem, error))
        return false;
    Bio bio(BIO_new_mem_buf(key.pem.data(), static_cast<int>(key.pem.size())));
    Pkey pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
    if (!pkey) {
        error = LibraryError(path + " holds no unencrypted PEM private key");
        return false;
    }
    if (!PublicPoint(pkey.get(), key.point, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool Sign(const SigningKey& key, const std::string& message, std::string& signature, std::string& error)
{
    Bio bio(BIO_new_mem_buf(key.pem.data(), static_cast<int>(key.pem.size())));
    Pkey pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
    MdCtx context(EVP_MD_CTX_new());
    unsigned char der[128];
    size_t derLength = sizeof der;
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (!pkey || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) <= 0
        || EVP_DigestSign(context.get(), der, &derLength, bytes, message.size()) <= 0) {
        error = LibraryError("signing failed");
        return false;
    }
    // OpenSSL writes DER; the installer's CNG takes r || s, each left-padded to 32 bytes.
    const unsigned char* read = der;
    EcdsaSig sig(d2i_ECDSA_SIG(nullptr, &read, static_cast<long>(derLength)));
    unsigned char raw[P256_SIGNATURE_BYTES];
    if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw, P256_SIGNATURE_BYTES / 2) < 0
        || BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw + P256_SIGNATURE_BYTES / 2, P256_SIGNATURE_BYTES / 2) < 0) {
        error = LibraryError("cannot convert the signature");
        return false;
    }
    signature.assign(reinterpret_cast<const char*>(raw), sizeof raw);
    return true;
}

bool GenerateSigningKey(const std::string& path, std::string& point, std::string& error)
{
    Pkey key(EVP_EC_gen("prime256v1"));
    Bio bio(BIO_new(BIO_s_mem()));
    // The SEC1 "EC PRIVATE KEY" form, as `openssl ecparam -genkey -noout` writes it.
    if (!key || !bio
        || !PEM_write_bio_PrivateKey_traditional(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr)
        || !PublicPoint(key.get(), point, error)) {
        error = error.empty() ? LibraryError("cannot make a key") : error;
        return false;
    }
    char* pem = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &pem);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? path + " exists; a key file is never replaced"
                                : "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = write(fd, pem, static_cast<size_t>(length)) == length;
    if (close(fd) != 0 || !written) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace publish
