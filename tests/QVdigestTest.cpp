/*
 * Tests of the digests: published test vectors, the incremental form against the
 * one-shot one at every 13th split of a message, the Ed25519 key of RFC 8032's first
 * test, and the refusals.
 */
#include <gtest/gtest.h>

#include <string>

#include "QVLib/QVdigest.h"
#include "tests/support/LogCapture.h"

namespace
{

std::string hex(const unsigned char *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; i++)
        out += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return out;
}

std::string digest_hex(int kind, const std::string &message)
{
    unsigned char out[QV_DIGEST_MAX_SIZE];
    EXPECT_EQ(0u, qv_digest(kind, message.data(), message.size(), out, sizeof out));
    return hex(out, qv_digest_size(kind));
}

TEST(QVdigest, PublishedVectors)
{
    /* FIPS 180-2's "abc"; SHA-512 is held to RFC 8032 below. */
    EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", digest_hex(QV_DIGEST_SHA1, "abc"));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              digest_hex(QV_DIGEST_SHA256, "abc"));
}

TEST(QVdigest, IncrementalEqualsOneShotAtEverySplit)
{
    std::string message;
    for (int i = 0; i < 300; i++) /* past two SHA-512 blocks */
        message += static_cast<char>(i * 7);
    for (int kind : {QV_DIGEST_SHA1, QV_DIGEST_SHA256, QV_DIGEST_SHA512}) {
        std::string whole = digest_hex(kind, message);
        for (size_t split = 0; split <= message.size(); split += 13) {
            QVdigest d{};
            unsigned char out[QV_DIGEST_MAX_SIZE];
            ASSERT_EQ(0u, qv_digest_init(&d, kind));
            ASSERT_EQ(0u, qv_digest_update(&d, message.data(), split));
            ASSERT_EQ(0u, qv_digest_update(&d, message.data() + split, message.size() - split));
            ASSERT_EQ(0u, qv_digest_final(&d, out, sizeof out));
            EXPECT_EQ(nullptr, d.state);
            EXPECT_EQ(whole, hex(out, qv_digest_size(kind))) << kind << " " << split;
        }
    }
}

TEST(QVdigest, Ed25519KeyOfRfc8032FirstTest)
{
    /* The secret scalar of an Ed25519 key is the first half of SHA-512 of its seed. */
    const unsigned char seed[32] = {0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60,
                                    0xba, 0x84, 0x4a, 0xf4, 0x92, 0xec, 0x2c, 0xc4,
                                    0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19,
                                    0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
    unsigned char digest[QV_SHA512_SIZE], key[QV_ED25519_SIZE];
    ASSERT_EQ(0u, qv_digest(QV_DIGEST_SHA512, seed, sizeof seed, digest, sizeof digest));
    ASSERT_EQ(0u, qv_ed25519_public_key(digest, key));
    EXPECT_EQ("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
              hex(key, sizeof key));
}

TEST(QVdigest, Refusals)
{
    StderrCapture capture;
    QVdigest d{};
    unsigned char out[QV_SHA256_SIZE];
    EXPECT_EQ(1u, qv_digest_init(&d, 7));
    EXPECT_EQ(nullptr, d.state);
    EXPECT_EQ(0u, qv_digest_size(7));
    EXPECT_EQ(1u, qv_digest_update(&d, "x", 1)); /* not started */
    EXPECT_EQ(1u, qv_digest_final(&d, out, sizeof out));
    /* Too small a buffer: refused, and the state is released all the same. */
    ASSERT_EQ(0u, qv_digest_init(&d, QV_DIGEST_SHA512));
    EXPECT_EQ(1u, qv_digest_final(&d, out, sizeof out));
    EXPECT_EQ(nullptr, d.state);
    EXPECT_EQ(1u, qv_ed25519_public_key(nullptr, out));
    auto lines = capture.finish();
    EXPECT_EQ(5u, lines.size());
    EXPECT_TRUE(any_line_contains(lines, "qv_digest_final: no room for the digest"));
}

} // namespace
