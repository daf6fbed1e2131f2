#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "support/Cng.h"
#include "support/StreamHash.h"

namespace {

std::vector<BYTE> Pattern(size_t cb, unsigned nSeed)
{
    std::vector<BYTE> bytes(cb);
    for (size_t i = 0; i < cb; ++i)
        bytes[i] = static_cast<BYTE>((i * 131 + nSeed) >> 3);
    return bytes;
}

std::vector<BYTE> Digest(const std::vector<BYTE>& bytes)
{
    BYTE digest[SHA256_DIGEST_BYTES];
    EXPECT_EQ(0, Sha256(bytes.data(), bytes.size(), digest));
    return std::vector<BYTE>(digest, digest + SHA256_DIGEST_BYTES);
}

std::vector<BYTE> Finish(CStreamHash& hash, const std::vector<BYTE>& body, size_t cb)
{
    BYTE digest[SHA256_DIGEST_BYTES];
    EXPECT_EQ(0, hash.Finish(body.data(), cb, digest));
    return std::vector<BYTE>(digest, digest + SHA256_DIGEST_BYTES);
}

// The body given as a read loop gives it: in reads of a few kilobytes, through a block that moves
// whenever it outgrows itself, as HttpDownload's does.
TEST(StreamHashTest, DigestOfABodyGivenInPiecesThroughAMovingBlockIsTheBodysDigest)
{
    // Larger than the backlog the hash allows, so that the loop also waits for it.
    const std::vector<BYTE> body = Pattern(9 * 1024 * 1024 + 77, 1);
    CStreamHash hash;
    std::vector<BYTE> block(4096);
    size_t cbHeld = 0;
    for (size_t cbRead = 5120; cbHeld < body.size(); cbRead = cbRead % 7919 + 1000) {
        const size_t cb = std::min(cbRead, body.size() - cbHeld);
        if (cbHeld + cb > block.size()) {
            hash.Detach();
            std::vector<BYTE> larger(2 * (cbHeld + cb));
            memcpy(larger.data(), block.data(), cbHeld);
            // The old block is overwritten before it goes: a hash still reading it would show it.
            memset(block.data(), 0xEE, block.size());
            block.swap(larger);
        }
        memcpy(block.data() + cbHeld, body.data() + cbHeld, cb);
        cbHeld += cb;
        hash.Extend(block.data(), cbHeld);
    }
    EXPECT_EQ(Digest(body), Finish(hash, block, body.size()));
}

TEST(StreamHashTest, ResetBeginsAnotherBodyAndAFinishedHashTakesNoMore)
{
    const std::vector<BYTE> first = Pattern(600 * 1024, 2);
    const std::vector<BYTE> second = Pattern(300 * 1024, 3);
    CStreamHash hash;
    hash.Extend(first.data(), first.size());
    hash.Reset();
    hash.Extend(second.data(), 1000);
    hash.Detach();
    // Bytes given once and then only present in the block when the digest is asked for.
    EXPECT_EQ(Digest(second), Finish(hash, second, second.size()));

    BYTE digest[SHA256_DIGEST_BYTES];
    hash.Extend(second.data(), second.size());
    EXPECT_NE(0, hash.Finish(second.data(), second.size(), digest)) << "finished: nothing more until a reset";
    hash.Reset();
    EXPECT_EQ(Digest(std::vector<BYTE>()), Finish(hash, second, 0)) << "an empty body";

    hash.Reset();
    hash.Extend(first.data(), first.size());
    EXPECT_NE(0, hash.Finish(first.data(), 10, digest)) << "fewer bytes than were given: no digest of them";
}

} // namespace
