#include "tools/socket/c_frame_reader.h"

#include <algorithm>
#include <cstring>

c_memory_byte_source::c_memory_byte_source(const uint8_t* data, uint32_t len, uint32_t chunk)
    : m_data(data), m_len(data ? len : 0), m_chunk(chunk)
{
}

int c_memory_byte_source::recv(uint8_t* buf, int len)
{
    if (len <= 0)
        return -1;
    uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(len), m_len - m_pos);
    if (m_chunk)
        n = std::min(n, m_chunk);
    if (n == 0)
        return 0;
    std::memcpy(buf, m_data + m_pos, n);
    m_pos += n;
    return static_cast<int>(n);
}

c_frame_reader::c_frame_reader(uint32_t body_capacity)
    : m_body(new uint8_t[body_capacity ? body_capacity : 1]), m_capacity(body_capacity)
{
}

frame_read_result c_frame_reader::read_frame(c_byte_source& src)
{
    m_header_pos = 0;
    m_body_len = 0;

    // Sync: one byte at a time until 0xA5; anything else is skipped.
    while (m_header_pos == 0) {
        if (src.should_stop())
            return frame_read_result::stopped;
        const int r = src.recv(m_header, 1);
        if (r == 0)
            return frame_read_result::peer_closed;
        if (r > 0 && m_header[0] == FRAME_SYNC)
            m_header_pos = 1;
    }

    while (m_header_pos < FRAME_HEADER_LEN) {
        if (src.should_stop())
            return frame_read_result::stopped;
        const int r = src.recv(m_header + m_header_pos, static_cast<int>(FRAME_HEADER_LEN - m_header_pos));
        if (r == 0)
            return frame_read_result::peer_closed;
        if (r > 0)
            m_header_pos += static_cast<uint32_t>(r);
    }

    // The length comes from the device: never allocate or read beyond the buffer.
    const uint32_t want = frame_wire_len(m_header);
    if (want > m_capacity)
        return frame_read_result::oversized;

    uint32_t got = 0;
    while (got < want) {
        if (src.should_stop())
            return frame_read_result::stopped;
        const uint32_t ask = std::min<uint32_t>(want - got, 0x7fffffffu);
        const int r = src.recv(m_body.get() + got, static_cast<int>(ask));
        if (r == 0)
            return frame_read_result::peer_closed;
        if (r > 0)
            got += static_cast<uint32_t>(r);
    }
    m_body_len = want;
    return frame_read_result::frame;
}
