#pragma once
// The frame shared by all three channels: an 11-byte header followed by a body
// whose first byte is the message type.
//
//   0  sync 0xA5      3  plain length, big-endian u32 (before enciphering)
//   1  version 1      7  wire length, big-endian u32 (body bytes that follow)
//   2  sum8 of the body bytes as sent
#include <cstdint>
#include <vector>

enum : uint32_t
{
    FRAME_HEADER_LEN = 11,
    FRAME_SYNC = 0xA5,
    FRAME_VERSION = 1,
    FRAME_BODY_BUFFER_SIZE = 524288,  // receive body buffer; larger wire lengths close the channel
    FRAME_MSG_BUFFER_SIZE = 512,      // generic message buffer
    FRAME_MSG9_BUFFER_SIZE = 800      // type-9 (read data) message buffer
};

#pragma pack(push, 1)
struct FRAME_HEADER
{
    uint8_t sync;
    uint8_t version;
    uint8_t checksum;
    uint8_t plain_len[4];
    uint8_t wire_len[4];
};
#pragma pack(pop)
static_assert(sizeof(FRAME_HEADER) == FRAME_HEADER_LEN, "frame header is 11 bytes");

// One field of a message: len bytes copied as they stand (multi-byte numbers
// must already be big-endian).
struct FRAME_FIELD
{
    uint32_t len;
    const void* bytes;
};

// 8-bit wrap-around sum.
uint8_t sum8(const uint8_t* bytes, uint32_t len);

uint32_t read_be32(const uint8_t* p);
uint32_t read_le32(const uint8_t* p);
uint16_t read_be16(const uint8_t* p);
void write_be32(uint8_t* p, uint32_t v);
void write_be16(uint8_t* p, uint16_t v);

// Header fields.
inline uint32_t frame_wire_len(const uint8_t* header) { return read_be32(header + 7); }
inline uint32_t frame_plain_len(const uint8_t* header) { return read_be32(header + 3); }
// The plain-length bytes read little-endian without conversion (what the
// receive loop compares with the wire length and passes to the handler).
inline uint32_t frame_plain_len_field(const uint8_t* header) { return read_le32(header + 3); }

// The header template: 0xA5, 1, checksum 0, lengths 0.
void frame_header_template(uint8_t* header11);

// Serialises the fields behind a fresh header: both lengths = body length,
// checksum = sum8(body). False (nothing written) when 11 + fields exceed
// capacity or dst/out_len is null. The body is never enciphered here.
bool frame_serialise(const std::vector<FRAME_FIELD>& fields, uint8_t* dst, uint32_t capacity, uint32_t* out_len);

// KM receive check, in place: false when the checksum does not match (drop the
// frame). Otherwise, when the plain-length field read little-endian differs from
// the wire length, deciphers the body with key8 and updates *body_len (a body
// whose length is not a multiple of 8 stays as received).
bool km_frame_check(const uint8_t* header, uint8_t* body, uint32_t* body_len, const uint8_t* key8);

// Video receive preparation, in place: when the two length fields differ,
// deciphers the first 16 body bytes; the first plain byte must be 6 (else
// logs "video data header not 0x06" and returns false); the 12 plain bytes
// replace body bytes 4..15 and *body / *body_len move on by 4. A body shorter
// than 16 bytes with differing lengths is dropped (false).
bool video_frame_prepare(const uint8_t* header, uint8_t** body, uint32_t* body_len, const uint8_t* key8);
