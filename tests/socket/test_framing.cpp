// Frame layout, builders, the frame cutter over a byte source, the KM and video
// receive checks, and the KM frame builder against OpenSSL's DES.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/log_capture.h"
#include "tools/crypto/c_des.h"
#include "tools/socket/c_buffered_byte_source.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"
#include "tools/socket/c_msg_builder.h"

namespace {

using bytes = std::vector<uint8_t>;

const uint8_t kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

bytes msg_bytes(const CQUEUE_MESSAGE& m)
{
    return bytes(m.data, m.data + m.length);
}

// A whole unenciphered frame around body.
bytes make_frame(const bytes& body)
{
    bytes f(FRAME_HEADER_LEN + body.size());
    uint32_t len = 0;
    frame_serialise({{static_cast<uint32_t>(body.size()), body.data()}}, f.data(), static_cast<uint32_t>(f.size()), &len);
    return f;
}

uint8_t mirror(uint8_t b)
{
    uint8_t m = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i))
            m |= static_cast<uint8_t>(0x80 >> i);
    return m;
}

// Standard DES (OpenSSL) of one block under the bit-mirrored key.
bytes reference_des(const uint8_t* key8, const uint8_t* block)
{
    DES_cblock k;
    for (int i = 0; i < 8; ++i)
        k[i] = mirror(key8[i]);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    DES_cblock in, out;
    std::memcpy(in, block, 8);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    return bytes(out, out + 8);
}

}  // namespace

TEST(FrameBuild, Type50ForUser1IsTheExpectedSixteenBytes)
{
    CQUEUE_MESSAGE m = build_msg_50(1);
    const bytes expected = {0xA5, 0x01, 0x33, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 1};
    EXPECT_EQ(msg_bytes(m), expected);
    EXPECT_STREQ(m.tag, "notU");
    EXPECT_EQ(unsigned(m.last_flag), 0u);
    EXPECT_EQ(uint32_t(m.ack_status), 0u);
    m.free_data();
}

TEST(FrameBuild, GenericBuildersLayOutBigEndianFieldsAndTags)
{
    CQUEUE_MESSAGE m7 = build_msg_7(1, 0x81, 0x01020304);
    EXPECT_EQ(bytes(m7.data + 11, m7.data + m7.length), (bytes{7, 1, 0x81, 1, 2, 3, 4}));
    EXPECT_STREQ(m7.tag, "notU");

    CQUEUE_MESSAGE m8 = build_msg_8(1, 0);
    EXPECT_EQ(bytes(m8.data + 11, m8.data + m8.length), (bytes{8, 1, 0}));
    EXPECT_STREQ(m8.tag, "noUse");

    bytes sector(512);
    for (size_t i = 0; i < sector.size(); ++i)
        sector[i] = static_cast<uint8_t>(i * 7);
    CQUEUE_MESSAGE m9 = build_msg_9(1, 0xA0B0C0D0, 0x0102, sector.data(), 512, 1);
    ASSERT_EQ(uint32_t(m9.length), 11u + 520u);
    EXPECT_EQ(bytes(m9.data + 11, m9.data + 19), (bytes{9, 1, 0xA0, 0xB0, 0xC0, 0xD0, 1, 2}));
    EXPECT_EQ(bytes(m9.data + 19, m9.data + m9.length), sector);
    EXPECT_EQ(unsigned(m9.last_flag), 1u);
    EXPECT_STREQ(m9.tag, "noUse");
    // Header: both lengths 520, checksum over the body.
    EXPECT_EQ(frame_plain_len(m9.data), 520u);
    EXPECT_EQ(frame_wire_len(m9.data), 520u);
    EXPECT_EQ(m9.data[2], sum8(m9.data + 11, 520));

    // Data that does not fit the 800-byte buffer builds nothing.
    bytes big(800);
    CQUEUE_MESSAGE too_big = build_msg_9(1, 0, 0, big.data(), 800, 0);
    EXPECT_TRUE(too_big.empty());

    CQUEUE_MESSAGE m10 = build_msg_10(1, 0x0203, 0);
    EXPECT_EQ(bytes(m10.data + 11, m10.data + m10.length), (bytes{10, 1, 2, 3}));
    const std::string tag = m10.tag;
    ASSERT_EQ(tag.size(), 12u) << tag;
    EXPECT_EQ(tag.substr(0, 6), "pak10_");
    EXPECT_TRUE(isdigit(tag[6]) && isdigit(tag[7]) && tag[8] == '_' && isdigit(tag[9]) && isdigit(tag[10]) &&
                isdigit(tag[11]))
        << tag;

    CQUEUE_MESSAGE m31 = build_msg_31(3);
    EXPECT_EQ(bytes(m31.data + 11, m31.data + m31.length), (bytes{31, 3}));
    CQUEUE_MESSAGE m32 = build_msg_32(3, 4);
    EXPECT_EQ(bytes(m32.data + 11, m32.data + m32.length), (bytes{32, 3, 4, 1}));
    EXPECT_STREQ(m32.tag, "notU");

    for (CQUEUE_MESSAGE* m : {&m7, &m8, &m9, &m10, &m31, &m32})
        m->free_data();
}

TEST(FrameCutter, StrayBytesEmptyBodiesAndOneByteReads)
{
    const bytes f1 = make_frame({6, 1, 2, 3});
    const bytes f0 = make_frame({});
    bytes stream = {0x00};  // one stray byte, then a frame
    stream.insert(stream.end(), f1.begin(), f1.end());
    stream.insert(stream.end(), {0x11, 0x22});
    stream.insert(stream.end(), f0.begin(), f0.end());

    for (uint32_t chunk : {0u, 1u, 3u}) {
        c_memory_byte_source src(stream.data(), static_cast<uint32_t>(stream.size()), chunk);
        c_frame_reader reader(64);
        ASSERT_EQ(reader.read_frame(src), frame_read_result::frame) << chunk;
        EXPECT_EQ(bytes(reader.body(), reader.body() + reader.body_length()), (bytes{6, 1, 2, 3}));
        EXPECT_EQ(bytes(reader.header(), reader.header() + 11), bytes(f1.begin(), f1.begin() + 11));
        // Wire length 0 gives an empty body right after the header.
        ASSERT_EQ(reader.read_frame(src), frame_read_result::frame) << chunk;
        EXPECT_EQ(reader.body_length(), 0u);
        EXPECT_EQ(reader.read_frame(src), frame_read_result::peer_closed);
    }
}

// Counts the reads that reach the source beneath.
class counting_source : public c_byte_source
{
public:
    counting_source(const bytes& data, uint32_t chunk) : m_inner(data.data(), static_cast<uint32_t>(data.size()), chunk) {}
    int recv(uint8_t* buf, int len) override
    {
        ++reads;
        largest = std::max(largest, len);
        return m_inner.recv(buf, len);
    }
    bool should_stop() override { return false; }
    int reads = 0;
    int largest = 0;

private:
    c_memory_byte_source m_inner;
};

TEST(FrameCutter, BufferedSourceCutsTheSameFramesWithFewerReads)
{
    // Three short frames, then one whose body is far above the chunk size.
    bytes big(100000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7 + 1);
    const std::vector<bytes> bodies = {{9, 1, 0}, bytes(520, 0x5A), {}, big};
    bytes stream;
    for (const bytes& b : bodies) {
        const bytes f = make_frame(b);
        stream.insert(stream.end(), f.begin(), f.end());
    }

    for (uint32_t chunk : {0u, 1u, 7u, 600u}) {
        counting_source inner(stream, chunk);
        c_buffered_byte_source src(inner);
        c_frame_reader reader(200000);
        for (const bytes& b : bodies) {
            ASSERT_EQ(reader.read_frame(src), frame_read_result::frame) << chunk;
            ASSERT_EQ(bytes(reader.body(), reader.body() + reader.body_length()), b) << chunk;
        }
        EXPECT_EQ(reader.read_frame(src), frame_read_result::peer_closed);
        if (chunk == 0) {
            // Everything was there at once: the short frames took one read,
            // the big body went straight into the frame buffer.
            EXPECT_LE(inner.reads, 4);
            EXPECT_GE(inner.largest, 90000);
        }
    }
}

TEST(FrameCutter, EndInsideHeaderOrBodyAndOversizedLengths)
{
    const bytes f = make_frame({6, 9, 9, 9, 9, 9});
    for (size_t cut : {size_t(1), size_t(5), size_t(11), size_t(14)}) {
        c_memory_byte_source src(f.data(), static_cast<uint32_t>(cut), 1);
        c_frame_reader reader(64);
        EXPECT_EQ(reader.read_frame(src), frame_read_result::peer_closed) << cut;
    }

    // A wire length beyond the buffer stops before reading the body.
    bytes big = {0xA5, 1, 0, 0, 0, 0, 0, 0, 0x08, 0, 1};  // 524289
    big.resize(big.size() + 64, 0x5A);
    c_memory_byte_source src(big.data(), static_cast<uint32_t>(big.size()));
    c_frame_reader reader;
    EXPECT_EQ(reader.body_capacity(), 524288u);
    EXPECT_EQ(reader.read_frame(src), frame_read_result::oversized);
    EXPECT_EQ(src.remaining(), 64u);

    // Exactly the capacity still fits.
    bytes fits = {0xA5, 1, 0, 0, 0, 0, 0x10, 0, 0, 0, 0x10};
    fits.resize(fits.size() + 16, 1);
    c_memory_byte_source src2(fits.data(), static_cast<uint32_t>(fits.size()));
    c_frame_reader small(16);
    EXPECT_EQ(small.read_frame(src2), frame_read_result::frame);
    EXPECT_EQ(small.body_length(), 16u);
}

TEST(KmFrame, EncipheredBodyMatchesStandardDesUnderMirroredKey)
{
    // L = 8: 8 enciphered bytes followed by 8 zero bytes, both lengths 8.
    const bytes payload = {1, 2, 3, 4, 5, 6, 7};
    const bytes frame = build_km_frame(3, payload.data(), 7, kKey);
    ASSERT_EQ(frame.size(), 11u + 16u);
    EXPECT_EQ(frame[0], 0xA5);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame_plain_len(frame.data()), 8u);
    EXPECT_EQ(frame_wire_len(frame.data()), 8u);
    const uint8_t plain[8] = {3, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(bytes(frame.begin() + 11, frame.begin() + 19), reference_des(kKey, plain));
    EXPECT_EQ(bytes(frame.begin() + 19, frame.end()), bytes(8, 0));
    EXPECT_EQ(frame[2], sum8(frame.data() + 11, 16));
    EXPECT_EQ(km_frame_type(frame.data(), static_cast<uint32_t>(frame.size()), kKey), 3);

    // L = 5: padded 80 00 00, plain length 5, wire length 8, no trailing block.
    const bytes p4 = {0x10, 0x20, 0x30, 0x40};
    const bytes f5 = build_km_frame(44, p4.data(), 4, kKey);
    ASSERT_EQ(f5.size(), 11u + 8u);
    EXPECT_EQ(frame_plain_len(f5.data()), 5u);
    EXPECT_EQ(frame_wire_len(f5.data()), 8u);
    const uint8_t padded[8] = {44, 0x10, 0x20, 0x30, 0x40, 0x80, 0, 0};
    EXPECT_EQ(bytes(f5.begin() + 11, f5.end()), reference_des(kKey, padded));
    EXPECT_EQ(f5[2], sum8(f5.data() + 11, 8));
    EXPECT_EQ(km_frame_type(f5.data(), static_cast<uint32_t>(f5.size()), kKey), 44);

    // Random keys and payloads: every block agrees with the reference.
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        uint8_t key[8];
        for (uint8_t& b : key)
            b = static_cast<uint8_t>(rng());
        bytes p(rng() % 30);
        for (uint8_t& b : p)
            b = static_cast<uint8_t>(rng());
        const uint8_t type = static_cast<uint8_t>(rng() % 49 + 1);  // never 50
        const bytes f = build_km_frame(type, p.data(), static_cast<uint32_t>(p.size()), key);
        const uint32_t L = static_cast<uint32_t>(p.size()) + 1;
        bytes plain_body(L);
        plain_body[0] = type;
        std::copy(p.begin(), p.end(), plain_body.begin() + 1);
        if (L % 8)
            plain_body.push_back(0x80);
        while (plain_body.size() % 8)
            plain_body.push_back(0);
        ASSERT_EQ(f.size(), 11u + L / 8 * 8 + 8) << n;
        for (size_t b = 0; b < plain_body.size(); b += 8)
            ASSERT_EQ(bytes(f.begin() + 11 + b, f.begin() + 19 + b), reference_des(key, &plain_body[b])) << n;
        EXPECT_EQ(f[2], sum8(f.data() + 11, static_cast<uint32_t>(f.size() - 11)));
    }
}

TEST(KmFrame, Type50TravelsInClear)
{
    const uint8_t id[4] = {0, 0, 0, 0x2A};
    const bytes f = build_km_frame(50, id, 4, kKey);
    EXPECT_EQ(f, (bytes{0xA5, 1, 0x5C, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 0x2A}));
    EXPECT_EQ(km_frame_type(f.data(), static_cast<uint32_t>(f.size()), kKey), 50);
}

TEST(ReceiveChecks, KmChecksumAndDecipherRules)
{
    // A frame from the device: the body enciphered, plain length 5, wire 8.
    bytes body = {23, 1, 2, 3, 0x80, 0, 0, 0};
    int len = 5;
    des_encrypt_frame(kKey, body.data(), body.data(), &len);
    uint8_t header[11] = {0xA5, 1, 0, 0, 0, 0, 5, 0, 0, 0, 8};
    header[2] = sum8(body.data(), 8);

    bytes work = body;
    uint32_t n = 8;
    EXPECT_TRUE(km_frame_check(header, work.data(), &n, kKey));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(bytes(work.begin(), work.begin() + 4), (bytes{23, 1, 2, 3}));

    // Checksum one off: dropped, body untouched.
    header[2] = static_cast<uint8_t>(header[2] + 1);
    work = body;
    n = 8;
    EXPECT_FALSE(km_frame_check(header, work.data(), &n, kKey));
    EXPECT_EQ(work, body);

    // Equal lengths in big-endian still count as different when read
    // little-endian, so the body is deciphered; a length that is not a multiple
    // of 8 is passed on as received.
    bytes clear = {3, 0};
    uint8_t h2[11] = {0xA5, 1, 3, 0, 0, 0, 2, 0, 0, 0, 2};
    n = 2;
    EXPECT_TRUE(km_frame_check(h2, clear.data(), &n, kKey));
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(clear, (bytes{3, 0}));
}

TEST(ReceiveChecks, VideoDeciphersTheFirstSixteenBytes)
{
    LogCapture log;
    // Type-6 body: 12 header bytes enciphered into 16, then clear payload.
    const bytes plain12 = {6, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
    bytes enc(16, 0);
    std::copy(plain12.begin(), plain12.end(), enc.begin());
    int len = 12;
    des_encrypt_frame(kKey, enc.data(), enc.data(), &len);
    ASSERT_EQ(len, 16);
    bytes body = enc;
    body.insert(body.end(), {0xAA, 0xBB, 0xCC});
    uint8_t header[11] = {0xA5, 1, 0, 0, 0, 0, 15, 0, 0, 0, 19};

    uint8_t* start = body.data();
    uint32_t n = 19;
    ASSERT_TRUE(video_frame_prepare(header, &start, &n, kKey));
    EXPECT_EQ(start, body.data() + 4);
    EXPECT_EQ(n, 15u);
    EXPECT_EQ(bytes(start, start + n), (bytes{6, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0xAA, 0xBB, 0xCC}));

    // Deciphered first byte not 6: dropped with the log line.
    bytes wrong = {7, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0};
    len = 16;
    des_encrypt_frame(kKey, wrong.data(), wrong.data(), &len);
    start = wrong.data();
    n = 16;
    EXPECT_FALSE(video_frame_prepare(header, &start, &n, kKey));
    EXPECT_TRUE(log.contains("video data header not 0x06"));

    // Equal lengths: passed on as it is, even for type 6.
    uint8_t same[11] = {0xA5, 1, 0, 0, 0, 0, 3, 0, 0, 0, 3};
    bytes small = {6, 0, 0};
    start = small.data();
    n = 3;
    EXPECT_TRUE(video_frame_prepare(same, &start, &n, kKey));
    EXPECT_EQ(start, small.data());
    EXPECT_EQ(n, 3u);
    // Differing lengths but too short to hold 16 bytes: dropped, nothing read beyond.
    start = small.data();
    EXPECT_FALSE(video_frame_prepare(header, &start, &n, kKey));
}
