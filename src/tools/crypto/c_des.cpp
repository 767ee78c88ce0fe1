#include "tools/crypto/c_des.h"

#include <array>
#include <cstddef>

namespace {

// The standard DES tables, 1-based bit numbers with bit 1 the most
// significant. The lookup tables the rounds use are derived from them at
// compile time, so there is a single source of truth for every permutation.

constexpr uint8_t k_ip[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t k_p[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t k_pc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t k_pc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotations of C and D before each round, as running totals.
constexpr uint8_t k_total_shift[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// Which bit of a key byte holds key bit j (0 = first): the mirrored order.
constexpr uint8_t k_key_bit_weight[8] = {1, 2, 4, 8, 16, 32, 64, 128};

// S-boxes in row-major form: row = outer bits, column = inner four bits.
constexpr uint8_t k_sbox[8][64] = {
    {14, 4,  13, 1,  2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0,  7,
     0,  15, 7,  4,  14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3,  8,
     4,  1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5,  0,
     15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7,  2,  13, 12, 0,  5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0,  1,  10, 6,  9,  11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,  9,  3,  2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3,  4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2,  8,  5,  11, 12, 4,  15,
     13, 8,  11, 5,  6,  15, 0,  3,  4,  7,  2,  12, 1,  10, 14, 9,
     10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14, 5,  2,  8,  4,
     3,  15, 0,  6,  10, 1,  13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0,  14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9,  8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3,  0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7,  12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,
     13, 0,  11, 7,  4,  9,  1,  10, 14, 3,  5,  12, 2,  15, 8,  6,
     1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,  0,  5,  9,  2,
     6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8,  10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

// S-box g merged with P: entry v is P applied to S_g(v) placed at the
// output nibble of box g, so a round is eight lookups ORed together.
using sp_tables = std::array<std::array<uint32_t, 64>, 8>;

constexpr sp_tables make_sp_tables()
{
    sp_tables t{};
    for (int g = 0; g < 8; ++g) {
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int col = (v >> 1) & 15;
            const uint32_t pre = uint32_t(k_sbox[g][row * 16 + col]) << (28 - 4 * g);
            uint32_t out = 0;
            for (int i = 0; i < 32; ++i) {
                if ((pre >> (32 - k_p[i])) & 1u)
                    out |= 1u << (31 - i);
            }
            t[g][v] = out;
        }
    }
    return t;
}

// A 64-bit permutation split per input byte: the result is the OR of the
// eight entries selected by the input bytes.
using perm_tables = std::array<std::array<uint64_t, 256>, 8>;

constexpr perm_tables make_perm_tables(const uint8_t (&perm)[64])
{
    perm_tables t{};
    for (int b = 0; b < 8; ++b) {
        for (int v = 0; v < 256; ++v) {
            uint64_t out = 0;
            for (int i = 0; i < 64; ++i) {
                const int src = perm[i] - 1; // 0-based input bit, 0 = most significant
                if (src / 8 == b && ((v >> (7 - src % 8)) & 1))
                    out |= uint64_t(1) << (63 - i);
            }
            t[b][v] = out;
        }
    }
    return t;
}

struct inverse_perm {
    uint8_t v[64];
};

constexpr inverse_perm invert(const uint8_t (&perm)[64])
{
    inverse_perm r{};
    for (int i = 0; i < 64; ++i)
        r.v[perm[i] - 1] = uint8_t(i + 1);
    return r;
}

constexpr inverse_perm k_fp = invert(k_ip);

constexpr sp_tables k_sp = make_sp_tables();
constexpr perm_tables k_ip_tab = make_perm_tables(k_ip);
constexpr perm_tables k_fp_tab = make_perm_tables(k_fp.v);

inline uint32_t rotr32(uint32_t x, unsigned n)
{
    return (x >> n) | (x << ((32 - n) & 31));
}

inline uint64_t permute(const perm_tables& t, uint64_t x)
{
    uint64_t r = 0;
    for (int b = 0; b < 8; ++b)
        r |= t[b][(x >> (56 - 8 * b)) & 0xff];
    return r;
}

// The cipher function: the expansion E is done by two rotations, after
// which the even boxes' 6-bit inputs sit at bits 24, 16, 8, 0 of one word
// and the odd boxes' inputs at the same places of the other.
inline uint32_t round_f(uint32_t r, uint32_t k_even, uint32_t k_odd)
{
    const uint32_t a = rotr32(r, 3) ^ k_even;
    const uint32_t b = rotr32(r, 31) ^ k_odd;
    return k_sp[0][(a >> 24) & 63] | k_sp[2][(a >> 16) & 63] | k_sp[4][(a >> 8) & 63] | k_sp[6][a & 63] |
           k_sp[1][(b >> 24) & 63] | k_sp[3][(b >> 16) & 63] | k_sp[5][(b >> 8) & 63] | k_sp[7][b & 63];
}

} // namespace

void des_build_schedule(const uint8_t* key8, bool encrypt, des_key_schedule_t* ks)
{
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) {
        const int bit = k_pc1[i] - 1;
        cd[i] = (key8[bit >> 3] & k_key_bit_weight[bit & 7]) ? 1 : 0;
    }
    for (int round = 0; round < 16; ++round) {
        const int s = k_total_shift[round];
        uint8_t rotated[56];
        for (int j = 0; j < 28; ++j) {
            rotated[j] = cd[(j + s) % 28];
            rotated[28 + j] = cd[28 + (j + s) % 28];
        }
        uint32_t group[8] = {};
        for (int m = 0; m < 48; ++m)
            group[m / 6] = (group[m / 6] << 1) | rotated[k_pc2[m] - 1];
        const int slot = encrypt ? round : 15 - round;
        ks->words[2 * slot] = (group[0] << 24) | (group[2] << 16) | (group[4] << 8) | group[6];
        ks->words[2 * slot + 1] = (group[1] << 24) | (group[3] << 16) | (group[5] << 8) | group[7];
    }
}

void des_crypt_block(const des_key_schedule_t* ks, const uint8_t* in, uint8_t* out)
{
    uint64_t x = 0;
    for (int i = 0; i < 8; ++i)
        x = (x << 8) | in[i];
    x = permute(k_ip_tab, x);
    uint32_t l = uint32_t(x >> 32);
    uint32_t r = uint32_t(x);
    for (int round = 0; round < 16; ++round) {
        const uint32_t next = l ^ round_f(r, ks->words[2 * round], ks->words[2 * round + 1]);
        l = r;
        r = next;
    }
    // The halves leave the last round swapped.
    x = permute(k_fp_tab, (uint64_t(r) << 32) | l);
    for (int i = 7; i >= 0; --i) {
        out[i] = uint8_t(x);
        x >>= 8;
    }
}

bool des_encrypt_frame(const uint8_t* key8, uint8_t* src, uint8_t* dst, int* len)
{
    if (!key8 || !src || !dst || !len || *len < 0)
        return false;
    int n = *len;
    if (n % 8 != 0) {
        src[n++] = 0x80;
        while (n % 8 != 0)
            src[n++] = 0x00;
    }
    des_key_schedule_t ks;
    des_build_schedule(key8, true, &ks);
    for (int off = 0; off < n; off += 8)
        des_crypt_block(&ks, src + off, dst + off);
    *len = n;
    return true;
}

bool des_decrypt_frame(const uint8_t* key8, uint8_t* src, uint8_t* dst, int* len)
{
    if (!key8 || !src || !dst || !len || *len < 0 || *len % 8 != 0)
        return false;
    const int n = *len;
    des_key_schedule_t ks;
    des_build_schedule(key8, false, &ks);
    for (int off = 0; off < n; off += 8)
        des_crypt_block(&ks, src + off, dst + off);
    int stripped = 0;
    while (stripped < 8 && stripped < n) {
        const uint8_t c = dst[n - 1 - stripped];
        if (c != 0x00 && c != 0x80)
            break;
        ++stripped;
    }
    *len = n - stripped;
    return true;
}
