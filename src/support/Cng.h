#pragma once
#include <windows.h>
#include <bcrypt.h>

#include "core/rules/KeySizes.h"

// SHA-256 and ECDSA P-256 verification through Windows' own CNG (Vista and later; Wine has both).

const NTSTATUS CNG_INVALID_SIGNATURE = static_cast<NTSTATUS>(0xC000A000L);

// The digest of cb bytes, or the failing call's status.
NTSTATUS Sha256(const BYTE* pData, size_t cb, BYTE (&digest)[SHA256_DIGEST_BYTES]);

// 0 when signature is an ECDSA P-256 signature of the SHA-256 of the cb bytes by the key whose
// uncompressed point is given; CNG_INVALID_SIGNATURE when it is not; another status when the key
// cannot be used.
NTSTATUS VerifyP256(
    const BYTE (&point)[P256_POINT_BYTES], const BYTE* pData, size_t cb, const BYTE (&signature)[P256_SIGNATURE_BYTES]);
