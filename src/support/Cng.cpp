#include "support/Cng.h"

#include <algorithm>
#include <cstring>

#include "support/Handles.h"

NTSTATUS Sha256(const BYTE* pData, size_t cb, BYTE (&digest)[SHA256_DIGEST_BYTES])
{
    CBcryptAlg alg;
    NTSTATUS status = BCryptOpenAlgorithmProvider(alg.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status))
        return status;
    CBcryptHash hash;
    // Windows 7 and later allocate the hash object themselves when given none.
    status = BCryptCreateHash(alg.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0);
    // BCryptHashData takes a ULONG count: larger blocks go in slices.
    for (size_t nDone = 0; BCRYPT_SUCCESS(status) && nDone < cb;) {
        ULONG cbSlice = static_cast<ULONG>(std::min<size_t>(cb - nDone, 0x40000000));
        status = BCryptHashData(hash.Get(), const_cast<PUCHAR>(pData + nDone), cbSlice, 0);
        nDone += cbSlice;
    }
    if (BCRYPT_SUCCESS(status))
        status = BCryptFinishHash(hash.Get(), digest, SHA256_DIGEST_BYTES, 0);
    return status;
}

NTSTATUS VerifyP256(
    const BYTE (&point)[P256_POINT_BYTES], const BYTE* pData, size_t cb, const BYTE (&signature)[P256_SIGNATURE_BYTES])
{
    BYTE digest[SHA256_DIGEST_BYTES];
    NTSTATUS status = Sha256(pData, cb, digest);
    if (!BCRYPT_SUCCESS(status))
        return status;
    CBcryptAlg alg;
    status = BCryptOpenAlgorithmProvider(alg.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status))
        return status;

    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y without the point's leading 04.
    struct {
        BCRYPT_ECCKEY_BLOB header;
        BYTE xy[P256_POINT_BYTES - 1];
    } blob = {{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, (P256_POINT_BYTES - 1) / 2}, {}};
    memcpy(blob.xy, point + 1, sizeof(blob.xy));
    CBcryptKey key;
    status = BCryptImportKeyPair(
        alg.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Put(), reinterpret_cast<PUCHAR>(&blob), sizeof(blob), 0);
    if (!BCRYPT_SUCCESS(status))
        return status;
    return BCryptVerifySignature(
        key.Get(), nullptr, digest, SHA256_DIGEST_BYTES, const_cast<PUCHAR>(signature), P256_SIGNATURE_BYTES, 0);
}
