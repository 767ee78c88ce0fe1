#include "c_devsim_frames.h"

#include <cstring>

#include "tools/crypto/c_des.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"

std::vector<uint8_t> c_devsim_frames::clear(const uint8_t* body, uint32_t len)
{
    std::vector<uint8_t> out(FRAME_HEADER_LEN + len);
    uint32_t n = 0;
    const std::vector<FRAME_FIELD> fields{{len, body}};
    if (!frame_serialise(fields, out.data(), uint32_t(out.size()), &n))
        return {};
    out.resize(n);
    return out;
}

std::vector<uint8_t> c_devsim_frames::clear(std::initializer_list<uint8_t> body)
{
    return clear(body.begin(), uint32_t(body.size()));
}

std::vector<uint8_t> c_devsim_frames::km_enciphered(const uint8_t* body, uint32_t len, const uint8_t* key8)
{
    if (len == 0)
        return {};
    return build_km_frame(body[0], body + 1, len - 1, key8);
}

bool c_devsim_frames::survives_padding_strip(const uint8_t* body, uint32_t len)
{
    return len > 0 && body[len - 1] != 0x00 && body[len - 1] != 0x80;
}

std::vector<uint8_t> c_devsim_frames::video(uint8_t flag, uint32_t picture, uint16_t fragment,
                                            const uint8_t* payload, uint32_t len, const uint8_t* key8)
{
    return video_claiming(flag, picture, fragment, payload, len, len, key8);
}

std::vector<uint8_t> c_devsim_frames::video_claiming(uint8_t flag, uint32_t picture, uint16_t fragment,
                                                     const uint8_t* payload, uint32_t len, uint32_t claimed,
                                                     const uint8_t* key8)
{
    uint8_t head[16] = {};
    head[0] = 6;
    head[1] = flag;
    write_be32(head + 2, picture);
    write_be16(head + 6, fragment);
    write_be32(head + 8, claimed);

    const uint32_t headLen = key8 ? 16 : 12;
    std::vector<uint8_t> out(FRAME_HEADER_LEN + headLen + len);
    uint8_t* body = out.data() + FRAME_HEADER_LEN;
    if (key8) {
        int n = 12;
        des_encrypt_frame(key8, head, body, &n);  // 12 bytes become 16 (0x80 0 0 0 padding)
    } else {
        memcpy(body, head, 12);
    }
    if (len)
        memcpy(body + headLen, payload, len);

    frame_header_template(out.data());
    write_be32(out.data() + 3, 12 + len);
    write_be32(out.data() + 7, headLen + len);
    out[2] = sum8(body, headLen + len);
    return out;
}
