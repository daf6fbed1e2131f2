#pragma once
#include <cstddef>

// Sizes in the release's cryptography, as CNG and the publisher take them.
const size_t SHA256_DIGEST_BYTES = 32;
const size_t P256_POINT_BYTES = 65; // 04 || X || Y, the uncompressed point
const size_t P256_SIGNATURE_BYTES = 64; // r || s, 32 bytes each, big-endian: the form CNG takes
