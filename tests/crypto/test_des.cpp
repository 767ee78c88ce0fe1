// The frame cipher checked against OpenSSL's single DES (the reference lives
// in the tests only), plus its padding and buffer rules.

// OpenSSL 3 marks the low-level DES calls deprecated; they are the plain
// single-DES reference wanted here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include "tools/crypto/c_des.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using block = std::array<uint8_t, 8>;

uint8_t mirror(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            r |= uint8_t(0x80 >> i);
    return r;
}

block openssl_ecb(const block& key, const block& in, bool encrypt)
{
    DES_cblock k;
    std::memcpy(k, key.data(), 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    DES_cblock i, o;
    std::memcpy(i, in.data(), 8);
    DES_ecb_encrypt(&i, &o, &ks, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    block out;
    std::memcpy(out.data(), o, 8);
    return out;
}

block mirrored(const block& key)
{
    block m;
    for (int i = 0; i < 8; ++i)
        m[i] = mirror(key[i]);
    return m;
}

bool has_non_palindromic_byte(const block& key)
{
    for (uint8_t b : key)
        if (mirror(b) != b)
            return true;
    return false;
}

// Deciphers whole blocks without the padding rule, to read what a frame
// function really produced.
std::vector<uint8_t> raw_decipher(const block& key, const uint8_t* data, int n)
{
    des_key_schedule_t ks;
    des_build_schedule(key.data(), false, &ks);
    std::vector<uint8_t> out(static_cast<size_t>(n));
    for (int off = 0; off < n; off += 8)
        des_crypt_block(&ks, data + off, out.data() + off);
    return out;
}

std::vector<uint8_t> raw_encipher(const block& key, const std::vector<uint8_t>& plain)
{
    des_key_schedule_t ks;
    des_build_schedule(key.data(), true, &ks);
    std::vector<uint8_t> out(plain.size());
    for (size_t off = 0; off < plain.size(); off += 8)
        des_crypt_block(&ks, plain.data() + off, out.data() + off);
    return out;
}

const block k_key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

} // namespace

TEST(Des, MatchesStandardDesUnderMirroredKeyOnly)
{
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    int compared_unmirrored = 0;
    for (int n = 0; n < 400; ++n) {
        block key, plain;
        for (auto& b : key)
            b = uint8_t(byte(rng));
        for (auto& b : plain)
            b = uint8_t(byte(rng));

        // 8 bytes take no padding, so the frame call is one plain ECB block.
        uint8_t buf[16] = {};
        std::memcpy(buf, plain.data(), 8);
        int len = 8;
        ASSERT_TRUE(des_encrypt_frame(key.data(), buf, buf, &len));
        ASSERT_EQ(len, 8);
        block cipher;
        std::memcpy(cipher.data(), buf, 8);

        EXPECT_EQ(cipher, openssl_ecb(mirrored(key), plain, true)) << "block " << n;
        if (has_non_palindromic_byte(key)) {
            EXPECT_NE(cipher, openssl_ecb(key, plain, true)) << "block " << n;
            ++compared_unmirrored;
        }

        // The deciphering direction, block by block against OpenSSL.
        des_key_schedule_t ks;
        des_build_schedule(key.data(), false, &ks);
        block back;
        des_crypt_block(&ks, cipher.data(), back.data());
        EXPECT_EQ(back, plain);
        block other;
        des_crypt_block(&ks, plain.data(), other.data());
        EXPECT_EQ(other, openssl_ecb(mirrored(key), plain, false));
    }
    EXPECT_GT(compared_unmirrored, 300);
}

TEST(Des, KnownAnswerForMirroredFipsKey)
{
    // The classic worked example (key 133457799BBCDFF1, plain 0123456789ABCDEF,
    // cipher 85E813540F0AB405) holds under the bit-mirrored key bytes.
    block key = mirrored(k_key);
    uint8_t buf[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    int len = 8;
    ASSERT_TRUE(des_encrypt_frame(key.data(), buf, buf, &len));
    const uint8_t expect[8] = {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
    EXPECT_EQ(0, std::memcmp(buf, expect, 8));
}

TEST(Des, EncryptPadding)
{
    // 5 bytes grow to one block whose plain form ends 80 00 00.
    uint8_t src[16] = {'h', 'e', 'l', 'l', 'o', 0xEE, 0xEE, 0xEE};
    uint8_t dst[16] = {};
    int len = 5;
    ASSERT_TRUE(des_encrypt_frame(k_key.data(), src, dst, &len));
    EXPECT_EQ(len, 8);
    auto plain = raw_decipher(k_key, dst, 8);
    const uint8_t expect[8] = {'h', 'e', 'l', 'l', 'o', 0x80, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(plain.data(), expect, 8));
    EXPECT_EQ(dst[8], 0) << "wrote past the padded length";

    // 7 bytes take exactly one 0x80; 9 bytes spill into a second block.
    uint8_t seven[16] = {1, 2, 3, 4, 5, 6, 7};
    len = 7;
    ASSERT_TRUE(des_encrypt_frame(k_key.data(), seven, seven, &len));
    EXPECT_EQ(len, 8);
    EXPECT_EQ(raw_decipher(k_key, seven, 8)[7], 0x80);
    uint8_t nine[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    len = 9;
    ASSERT_TRUE(des_encrypt_frame(k_key.data(), nine, nine, &len));
    EXPECT_EQ(len, 16);
    auto p9 = raw_decipher(k_key, nine, 16);
    EXPECT_EQ(p9[8], 9);
    EXPECT_EQ(p9[9], 0x80);
    for (int i = 10; i < 16; ++i)
        EXPECT_EQ(p9[size_t(i)], 0) << i;

    // A whole block gets no padding: 8 bytes stay 8, in place.
    uint8_t eight[16] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x55};
    len = 8;
    ASSERT_TRUE(des_encrypt_frame(k_key.data(), eight, eight, &len));
    EXPECT_EQ(len, 8);
    EXPECT_EQ(eight[8], 0x55);
    EXPECT_EQ(0, std::memcmp(raw_decipher(k_key, eight, 8).data(), "ABCDEFGH", 8));

    // Nothing to encipher is not an error; a negative length is refused.
    len = 0;
    EXPECT_TRUE(des_encrypt_frame(k_key.data(), eight, eight, &len));
    EXPECT_EQ(len, 0);
    len = -3;
    EXPECT_FALSE(des_encrypt_frame(k_key.data(), eight, eight, &len));
    EXPECT_EQ(len, -3);
}

TEST(Des, DecryptLengthAndPaddingRules)
{
    // Not a multiple of 8: refused, nothing touched.
    uint8_t buf[16];
    std::memset(buf, 0x5A, sizeof buf);
    uint8_t out[16];
    std::memset(out, 0xC3, sizeof out);
    int len = 12;
    EXPECT_FALSE(des_decrypt_frame(k_key.data(), buf, out, &len));
    EXPECT_EQ(len, 12);
    for (uint8_t b : out)
        EXPECT_EQ(b, 0xC3);
    len = -8;
    EXPECT_FALSE(des_decrypt_frame(k_key.data(), buf, out, &len));

    // 16 bytes whose plain tail is 41 00 80 lose the last two bytes only.
    std::vector<uint8_t> plain = {9, 8, 7, 6, 5, 4, 3, 2, 0x80, 0x00, 1, 2, 3, 0x41, 0x00, 0x80};
    auto cipher = raw_encipher(k_key, plain);
    std::vector<uint8_t> dst(16);
    len = 16;
    ASSERT_TRUE(des_decrypt_frame(k_key.data(), cipher.data(), dst.data(), &len));
    EXPECT_EQ(len, 14);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 14, dst.begin()));

    // Only the last block is looked at: an all-padding last block goes
    // entirely, the 0x80 and 0x00 bytes before it stay.
    plain = {1, 2, 3, 4, 5, 6, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00};
    cipher = raw_encipher(k_key, plain);
    len = 16;
    ASSERT_TRUE(des_decrypt_frame(k_key.data(), cipher.data(), cipher.data(), &len));
    EXPECT_EQ(len, 8);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + 8, cipher.begin()));

    // Nothing to strip.
    plain = {1, 2, 3, 4, 5, 6, 7, 0x41};
    cipher = raw_encipher(k_key, plain);
    len = 8;
    ASSERT_TRUE(des_decrypt_frame(k_key.data(), cipher.data(), cipher.data(), &len));
    EXPECT_EQ(len, 8);
    EXPECT_EQ(cipher, plain);
}

TEST(Des, RoundTripAndTrailingZerosShorten)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(1, 0x7F); // never 0x00 or 0x80
    for (int n = 1; n <= 40; ++n) {
        std::vector<uint8_t> data(size_t(n) + 7);
        for (int i = 0; i < n; ++i)
            data[size_t(i)] = uint8_t(byte(rng));
        std::vector<uint8_t> orig(data.begin(), data.begin() + n);
        int len = n;
        ASSERT_TRUE(des_encrypt_frame(k_key.data(), data.data(), data.data(), &len));
        EXPECT_EQ(len, (n + 7) / 8 * 8);
        ASSERT_TRUE(des_decrypt_frame(k_key.data(), data.data(), data.data(), &len));
        ASSERT_EQ(len, n) << "length " << n;
        EXPECT_TRUE(std::equal(orig.begin(), orig.end(), data.begin()));
    }

    // Plain data ending in zeros comes back shorter.
    uint8_t body[16] = {0x06, 0x11, 0x22, 0x00, 0x00};
    int len = 5;
    ASSERT_TRUE(des_encrypt_frame(k_key.data(), body, body, &len));
    ASSERT_TRUE(des_decrypt_frame(k_key.data(), body, body, &len));
    EXPECT_EQ(len, 3);
    EXPECT_EQ(body[2], 0x22);
}

TEST(Des, ConcurrentCallsWithDifferentKeysAndDirections)
{
    // Each call has its own schedule: threads enciphering and deciphering
    // under different keys at once must all get the single-threaded result.
    const block keys[4] = {{1, 2, 3, 4, 5, 6, 7, 8},
                           {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10},
                           {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78},
                           {0xA5, 0x5A, 0xA5, 0x5A, 0xC3, 0x3C, 0xC3, 0x3C}};
    std::vector<uint8_t> plain(64);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = uint8_t(i * 37 + 1);
    std::vector<uint8_t> expect[4];
    for (int k = 0; k < 4; ++k)
        expect[k] = raw_encipher(keys[k], plain);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                std::vector<uint8_t> buf = plain;
                int len = int(buf.size());
                des_encrypt_frame(keys[t].data(), buf.data(), buf.data(), &len);
                if (buf != expect[t])
                    ++failures;
                des_decrypt_frame(keys[t].data(), buf.data(), buf.data(), &len);
                if (len != int(plain.size()) || buf != plain)
                    ++failures;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}
