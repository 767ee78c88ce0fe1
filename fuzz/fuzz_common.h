#pragma once
// Helpers shared by the fuzz targets and the seed maker: the fixed frame key
// the seeds are enciphered with, a byte source that hands out the input in
// chunk sizes the input itself chooses, exact-size copies (so that a read
// past a message's length hits the sanitizer's red zone instead of the rest
// of a big buffer), and the check of an outgoing frame.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

namespace fuzz {

// The device enciphers with this key and the viewer deciphers with it; the
// seed maker gives it to the test device, so mutated real frames still
// decipher to real message starts.
inline const uint8_t* device_key()
{
    static const uint8_t key[8] = {0x3a, 0x91, 0x5c, 0x07, 0xe4, 0x28, 0xbd, 0x66};
    return key;
}

// The key the viewer enciphers KM messages with (the device's desDecode).
inline const uint8_t* viewer_key()
{
    static const uint8_t key[8] = {0x71, 0x0f, 0xa2, 0x5e, 0x93, 0xc8, 0x14, 0xdb};
    return key;
}

// Stops the run with a message: a broken invariant is a finding like a crash.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(cond)                                   \
    do {                                                   \
        if (!(cond))                                       \
            ::fuzz::fail(#cond " (" __FILE__ ")");         \
    } while (0)

// KVM_FUZZ_VERBOSE=1 makes the targets say what an input did (seed checks).
inline bool verbose()
{
    static const bool on = std::getenv("KVM_FUZZ_VERBOSE") != nullptr;
    return on;
}

// A copy of n bytes in a heap block of exactly n bytes (a zero-size block
// for n == 0, which the sanitizer treats as all red zone).
inline std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* p, size_t n)
{
    std::unique_ptr<uint8_t[]> out(new uint8_t[n]);
    if (n)
        std::memcpy(out.get(), p, n);
    return out;
}

// Byte source over the input that hands out as many bytes per read as the
// chunk schedule says, in turn. A schedule byte of 0 is a transient receive
// error (-1) once, then one byte, so the reader always progresses. An empty
// schedule gives all that is asked.
class chunked_source : public c_byte_source
{
public:
    chunked_source(const uint8_t* data, size_t len, const uint8_t* schedule, size_t schedule_len)
        : m_data(data), m_len(len), m_schedule(schedule), m_schedule_len(schedule_len)
    {
    }

    int recv(uint8_t* buf, int len) override
    {
        FUZZ_CHECK(len > 0);
        if (m_pos == m_len)
            return 0;
        size_t n = static_cast<size_t>(len);
        if (m_schedule_len) {
            const uint8_t s = m_schedule[m_next++ % m_schedule_len];
            if (s == 0 && !m_failed_last) {
                m_failed_last = true;
                return -1;
            }
            n = std::min<size_t>(n, s ? s : 1);
        }
        m_failed_last = false;
        n = std::min(n, m_len - m_pos);
        std::memcpy(buf, m_data + m_pos, n);
        m_pos += n;
        return static_cast<int>(n);
    }

    bool should_stop() override { return false; }

    size_t position() const { return m_pos; }
    size_t length() const { return m_len; }
    const uint8_t* data() const { return m_data; }

private:
    const uint8_t* m_data;
    size_t m_len;
    const uint8_t* m_schedule;
    size_t m_schedule_len;
    size_t m_pos = 0;
    size_t m_next = 0;
    bool m_failed_last = false;
};

// Checks one frame the viewer would send: header constants, both lengths
// equal to the body length, checksum over the body, a known type with its
// exact body length. Returns the type.
inline uint8_t check_outgoing_frame(const uint8_t* data, uint32_t length)
{
    FUZZ_CHECK(data != nullptr);
    FUZZ_CHECK(length > FRAME_HEADER_LEN);
    const uint32_t body_len = length - FRAME_HEADER_LEN;
    const uint8_t* body = data + FRAME_HEADER_LEN;
    FUZZ_CHECK(data[0] == FRAME_SYNC && data[1] == FRAME_VERSION);
    FUZZ_CHECK(frame_plain_len(data) == body_len);
    FUZZ_CHECK(frame_wire_len(data) == body_len);
    FUZZ_CHECK(data[2] == sum8(body, body_len));
    if (body[0] >= 7 && body[0] <= 10)
        FUZZ_CHECK(body[1] == 1);
    switch (body[0]) {
    case 7:
        FUZZ_CHECK(body_len == 7);
        break;
    case 8:
        FUZZ_CHECK(body_len == 3 && body[2] == 0);
        break;
    case 9:
        FUZZ_CHECK(body_len == 8 + 512);
        break;
    case 10:
        FUZZ_CHECK(body_len == 4);
        break;
    case 50:
        FUZZ_CHECK(body_len == 5);
        break;
    default:
        fail("unknown outgoing message type");
    }
    return body[0];
}

}  // namespace fuzz
