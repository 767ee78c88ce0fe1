#ifndef KVM_TOOLS_CRYPTO_C_DES_H
#define KVM_TOOLS_CRYPTO_C_DES_H

#include <cstdint>

// Frame cipher shared with the device: single DES in ECB mode, keys read with
// each byte's bits in mirrored order (the least significant bit is the first
// key bit, the most significant one acts as parity), as in RFB password
// authentication. A standard DES library gives the same blocks only when
// every key byte is bit-mirrored first.
//
// Every call builds its own key schedule on the stack, so calls on any
// number of threads need no lock.

// One key schedule: 16 rounds of two 32-bit words, each word holding four
// 6-bit subkey groups (groups 0,2,4,6 in the first, 1,3,5,7 in the second).
struct des_key_schedule_t {
    uint32_t words[32];
};

// Builds the schedule for enciphering (encrypt = true) or deciphering.
void des_build_schedule(const uint8_t* key8, bool encrypt, des_key_schedule_t* ks);

// Runs one 8-byte block through the cipher; in and out may be the same.
void des_crypt_block(const des_key_schedule_t* ks, const uint8_t* in, uint8_t* out);

// Pads src (0x80 then 0x00 up to a multiple of 8, nothing when *len is already
// one) and enciphers it block by block into dst; *len becomes the padded
// length. The caller leaves room for 7 padding bytes behind the data of src.
// src and dst may be the same buffer. Returns false only for a null pointer or
// a negative length (nothing is touched then).
bool des_encrypt_frame(const uint8_t* key8, uint8_t* src, uint8_t* dst, int* len);

// Deciphers *len bytes of src into dst and strips the padding: trailing 0x00
// and 0x80 bytes among the last 8 are removed (plain data ending in such bytes
// loses them too). Returns false, touching nothing, when *len is not a
// multiple of 8 (or negative, or a pointer is null).
// src and dst may be the same buffer.
bool des_decrypt_frame(const uint8_t* key8, uint8_t* src, uint8_t* dst, int* len);

#endif
