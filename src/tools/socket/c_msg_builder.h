#pragma once
// Builders of outgoing messages.
//
// Generic messages (never enciphered): each returns a CQUEUE_MESSAGE whose
// data is a new[] buffer of 512 bytes (800 for type 9) holding header and
// body; push it onto the channel's queue. All number arguments are host
// order; the builders write them big-endian. A message with null data /
// length 0 means nothing was built.
//
// KM frames (enciphered except type 50) are byte vectors for the KM send list.
#include <cstdint>
#include <vector>

#include "tools/socket/CQUEUE_MESSAGE.h"

// 7 map/unmap: type, u8 a, u8 flags, u32 sector count. Tag "notU".
CQUEUE_MESSAGE build_msg_7(uint8_t a, uint8_t flags, uint32_t count);
// 8 status request: type, u8 a, u8 b. Tag "noUse".
CQUEUE_MESSAGE build_msg_8(uint8_t a, uint8_t b);
// 9 read data: type, u8 a, u32 start, u16 index, data bytes (at most 781). Tag "noUse".
CQUEUE_MESSAGE build_msg_9(uint8_t a, uint32_t start, uint16_t index, const uint8_t* data, uint32_t data_len,
                           uint8_t last_flag);
// 10 write-data request: type, u8 a, u16 offset. Tag "pak10_" + "ss_zzz" (current time).
CQUEUE_MESSAGE build_msg_10(uint8_t a, uint16_t offset, uint8_t last_flag);
// 31 picture reset: type, u8 target adapter. Tag "notU".
CQUEUE_MESSAGE build_msg_31(uint8_t adapter);
// 32 picture position: type, u8 target adapter, u8 direction (1 up, 2 down,
// 3 left, 4 right), u8 1. Tag "notU".
CQUEUE_MESSAGE build_msg_32(uint8_t adapter, uint8_t direction);
// 50 user identifier: type, u32 user id. Tag "notU".
CQUEUE_MESSAGE build_msg_50(uint32_t user_id);

// The KM frame of one message: body = type + payload (L = len + 1). Type 50 goes
// in clear (both lengths L). Any other type is enciphered with the outbound key
// key8: the frame is 11 + (L rounded down to 8) + 8 bytes, zero-filled, plain
// length L, wire length L rounded up to 8, checksum over every byte behind the
// header (trailing zero bytes included). Empty vector when len is too large.
std::vector<uint8_t> build_km_frame(uint8_t type, const uint8_t* payload, uint32_t len, const uint8_t* key8);

// The type byte of a KM frame built above, deciphering a copy of the first
// block with key8 when the frame is enciphered: its two length fields differ,
// or (L a multiple of 8, equal lengths) the trailing zero block follows the
// body. -1 for a frame too short to have a type.
int km_frame_type(const uint8_t* frame, uint32_t len, const uint8_t* key8);
