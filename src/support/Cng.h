#pragma once
#include <windows.h>
#include <bcrypt.h>

// SHA-256 and ECDSA P-256 verification through Windows' own CNG (Vista and later; Wine has both).

const ULONG SHA256_BYTES = 32;
const ULONG P256_POINT_BYTES = 65; // 04 || X || Y, the uncompressed point
const ULONG P256_SIGNATURE_BYTES = 64; // r || s, 32 bytes each, big-endian: the form CNG takes
const NTSTATUS CNG_INVALID_SIGNATURE = static_cast<NTSTATUS>(0xC000A000L);

// The digest of cb bytes, or the failing call's status.
NTSTATUS Sha256(const BYTE* pData, size_t cb, BYTE (&digest)[SHA256_BYTES]);

// 0 when signature is an ECDSA P-256 signature of the SHA-256 of the cb bytes by the key whose
// uncompressed point is given; CNG_INVALID_SIGNATURE when it is not; another status when the key
// cannot be used.
NTSTATUS VerifyP256(
    const BYTE (&point)[P256_POINT_BYTES], const BYTE* pData, size_t cb, const BYTE (&signature)[P256_SIGNATURE_BYTES]);
