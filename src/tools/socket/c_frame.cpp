#include "tools/socket/c_frame.h"

#include <cstring>

#include "log/log.h"
#include "tools/crypto/c_des.h"

uint8_t sum8(const uint8_t* bytes, uint32_t len)
{
    uint8_t s = 0;
    for (uint32_t i = 0; i < len; ++i)
        s = static_cast<uint8_t>(s + bytes[i]);
    return s;
}

uint32_t read_be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint32_t read_le32(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[0]);
}

uint16_t read_be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void write_be32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void write_be16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void frame_header_template(uint8_t* header11)
{
    // Only these constant values are ever written, so builders on several
    // threads never see each other's bytes.
    std::memset(header11, 0, FRAME_HEADER_LEN);
    header11[0] = FRAME_SYNC;
    header11[1] = FRAME_VERSION;
}

bool frame_serialise(const std::vector<FRAME_FIELD>& fields, uint8_t* dst, uint32_t capacity, uint32_t* out_len)
{
    if (dst == nullptr || out_len == nullptr)
        return false;
    uint64_t total = FRAME_HEADER_LEN;
    for (const FRAME_FIELD& f : fields)
        total += f.len;
    if (total > capacity)
        return false;

    frame_header_template(dst);
    uint32_t length = FRAME_HEADER_LEN;
    for (const FRAME_FIELD& f : fields) {
        if (f.len)
            std::memcpy(dst + length, f.bytes, f.len);
        length += f.len;
    }
    const uint32_t n = length - FRAME_HEADER_LEN;
    write_be32(dst + 3, n);
    dst[2] = static_cast<uint8_t>(dst[2] + sum8(dst + FRAME_HEADER_LEN, n));
    write_be32(dst + 7, n);
    *out_len = length;
    return true;
}

bool km_frame_check(const uint8_t* header, uint8_t* body, uint32_t* body_len, const uint8_t* key8)
{
    if (sum8(body, *body_len) != header[2])
        return false;
    // The plain length is compared in the header's raw byte order, so practically
    // every frame is deciphered; the device relies on that.
    if (frame_plain_len_field(header) != frame_wire_len(header)) {
        int len = static_cast<int>(*body_len);
        if (des_decrypt_frame(key8, body, body, &len))
            *body_len = static_cast<uint32_t>(len);
    }
    return true;
}

bool video_frame_prepare(const uint8_t* header, uint8_t** body, uint32_t* body_len, const uint8_t* key8)
{
    if (frame_plain_len(header) == frame_wire_len(header))
        return true;
    if (*body_len < 16) {
        LOG_ERROR("video data too short to decipher, length %u", *body_len);
        return false;
    }
    uint8_t plain[16];
    std::memcpy(plain, *body, 16);
    int len = 16;
    des_decrypt_frame(key8, plain, plain, &len);
    if (plain[0] != 6) {
        LOG_ERROR("video data header not 0x06");
        return false;
    }
    std::memcpy(*body + 4, plain, 12);
    *body += 4;
    *body_len -= 4;
    return true;
}
