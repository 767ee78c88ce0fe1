#include "tools/socket/c_msg_builder.h"

#include <QTime>
#include <cstring>
#include <memory>

#include "tools/crypto/c_des.h"
#include "tools/socket/c_frame.h"

namespace {

CQUEUE_MESSAGE build_generic(const std::vector<FRAME_FIELD>& fields, uint32_t buffer_size, uint8_t flag,
                             const char* tag)
{
    std::unique_ptr<uint8_t[]> buf(new uint8_t[buffer_size]());
    uint32_t len = 0;
    if (!frame_serialise(fields, buf.get(), buffer_size, &len))
        return CQUEUE_MESSAGE();
    return CQUEUE_MESSAGE(len, buf.release(), flag, tag, 0);
}

}  // namespace

CQUEUE_MESSAGE build_msg_7(uint8_t a, uint8_t flags, uint32_t count)
{
    const uint8_t type = 7;
    uint8_t be_count[4];
    write_be32(be_count, count);
    return build_generic({{1, &type}, {1, &a}, {1, &flags}, {4, be_count}}, FRAME_MSG_BUFFER_SIZE, 0, "notU");
}

CQUEUE_MESSAGE build_msg_8(uint8_t a, uint8_t b)
{
    const uint8_t type = 8;
    return build_generic({{1, &type}, {1, &a}, {1, &b}}, FRAME_MSG_BUFFER_SIZE, 0, "noUse");
}

CQUEUE_MESSAGE build_msg_9(uint8_t a, uint32_t start, uint16_t index, const uint8_t* data, uint32_t data_len,
                           uint8_t last_flag)
{
    const uint8_t type = 9;
    uint8_t be_start[4];
    uint8_t be_index[2];
    write_be32(be_start, start);
    write_be16(be_index, index);
    if (data == nullptr)
        data_len = 0;
    return build_generic({{1, &type}, {1, &a}, {4, be_start}, {2, be_index}, {data_len, data}},
                         FRAME_MSG9_BUFFER_SIZE, last_flag, "noUse");
}

CQUEUE_MESSAGE build_msg_10(uint8_t a, uint16_t offset, uint8_t last_flag)
{
    const uint8_t type = 10;
    uint8_t be_offset[2];
    write_be16(be_offset, offset);
    const QByteArray tag = ("pak10_" + QTime::currentTime().toString("ss_zzz")).toLatin1();
    return build_generic({{1, &type}, {1, &a}, {2, be_offset}}, FRAME_MSG_BUFFER_SIZE, last_flag,
                         tag.constData());
}

CQUEUE_MESSAGE build_msg_31(uint8_t adapter)
{
    const uint8_t type = 31;
    return build_generic({{1, &type}, {1, &adapter}}, FRAME_MSG_BUFFER_SIZE, 0, "notU");
}

CQUEUE_MESSAGE build_msg_32(uint8_t adapter, uint8_t direction)
{
    const uint8_t type = 32;
    const uint8_t one = 1;
    return build_generic({{1, &type}, {1, &adapter}, {1, &direction}, {1, &one}}, FRAME_MSG_BUFFER_SIZE, 0, "notU");
}

CQUEUE_MESSAGE build_msg_50(uint32_t user_id)
{
    const uint8_t type = 50;
    uint8_t be_id[4];
    write_be32(be_id, user_id);
    return build_generic({{1, &type}, {4, be_id}}, FRAME_MSG_BUFFER_SIZE, 0, "notU");
}

std::vector<uint8_t> build_km_frame(uint8_t type, const uint8_t* payload, uint32_t len, const uint8_t* key8)
{
    // Body lengths stay far inside what the cipher's int length can take.
    if (len > FRAME_BODY_BUFFER_SIZE || (len > 0 && payload == nullptr))
        return std::vector<uint8_t>();
    const uint32_t L = len + 1;

    if (type == 50) {
        std::vector<uint8_t> frame(FRAME_HEADER_LEN + L, 0);
        frame_header_template(frame.data());
        frame[FRAME_HEADER_LEN] = type;
        if (len)
            std::memcpy(&frame[FRAME_HEADER_LEN + 1], payload, len);
        write_be32(&frame[3], L);
        write_be32(&frame[7], L);
        frame[2] = sum8(&frame[FRAME_HEADER_LEN], L);
        return frame;
    }

    // Room for the padding; when L is already a multiple of 8 the enciphered
    // body is followed by 8 zero bytes, which are sent too.
    const uint32_t body_room = (L / 8) * 8 + 8;
    std::vector<uint8_t> frame(FRAME_HEADER_LEN + body_room, 0);
    uint8_t* body = &frame[FRAME_HEADER_LEN];
    frame_header_template(frame.data());
    body[0] = type;
    if (len)
        std::memcpy(body + 1, payload, len);
    write_be32(&frame[3], L);
    write_be32(&frame[7], L);

    std::vector<uint8_t> cipher(body_room, 0);
    std::vector<uint8_t> check(body_room, 0);
    int enc_len = static_cast<int>(L);
    for (int attempt = 0; attempt < 3; ++attempt) {
        enc_len = static_cast<int>(L);
        des_encrypt_frame(key8, body, cipher.data(), &enc_len);
        int dec_len = enc_len;
        des_decrypt_frame(key8, cipher.data(), check.data(), &dec_len);
        if (check[0] == type) {
            std::memcpy(body, cipher.data(), static_cast<size_t>(enc_len));
            break;
        }
    }

    write_be32(&frame[7], (L + 7) / 8 * 8);
    // Last: the checksum covers every byte behind the header.
    frame[2] = sum8(body, body_room);
    return frame;
}

int km_frame_type(const uint8_t* frame, uint32_t len, const uint8_t* key8)
{
    if (frame == nullptr || len <= FRAME_HEADER_LEN)
        return -1;
    const uint8_t* body = frame + FRAME_HEADER_LEN;
    const uint32_t body_len = len - FRAME_HEADER_LEN;
    // Enciphered: the lengths differ, or (L a multiple of 8) the 8 zero bytes
    // follow the wire length. Only a clear type-50 frame has neither.
    const bool enciphered =
        frame_plain_len(frame) != frame_wire_len(frame) || body_len > frame_wire_len(frame);
    if (!enciphered || body_len < 8)
        return body[0];
    // Only the first block is needed to read the type.
    uint8_t block[8];
    std::memcpy(block, body, 8);
    int n = 8;
    des_decrypt_frame(key8, block, block, &n);
    return block[0];
}
