#pragma once
// Cuts a byte stream into frames: skips bytes until 0xA5, reads the rest of the
// 11-byte header, then the body of the header's wire length. Works over any
// byte source, so the device simulator and fuzz targets can drive it without
// sockets.
#include <cstdint>
#include <memory>

#include "tools/socket/c_frame.h"

class c_byte_source
{
public:
    virtual ~c_byte_source() = default;
    // One read of at most len bytes: count, 0 when the stream has ended
    // (peer closed), -1 for a transient error (the reader tries again).
    virtual int recv(uint8_t* buf, int len) = 0;
    // Tested before every read; true abandons the frame.
    virtual bool should_stop() = 0;
};

// A byte source over a memory buffer, handing out at most `chunk` bytes per
// read (0 = all that is left), then 0 (end).
class c_memory_byte_source : public c_byte_source
{
public:
    c_memory_byte_source(const uint8_t* data, uint32_t len, uint32_t chunk = 0);
    int recv(uint8_t* buf, int len) override;
    bool should_stop() override { return false; }
    uint32_t remaining() const { return m_len - m_pos; }

private:
    const uint8_t* m_data;
    uint32_t m_len;
    uint32_t m_pos = 0;
    uint32_t m_chunk;
};

enum class frame_read_result
{
    frame,        // header() and body()/body_length() hold a complete frame
    stopped,      // should_stop() became true; the partial frame is discarded
    peer_closed,  // the source ended (before or inside a frame)
    oversized     // wire length above the body capacity; nothing was allocated or read
};

class c_frame_reader
{
public:
    // The body buffer is allocated once here and reused for every frame.
    explicit c_frame_reader(uint32_t body_capacity = FRAME_BODY_BUFFER_SIZE);

    frame_read_result read_frame(c_byte_source& src);

    const uint8_t* header() const { return m_header; }
    uint8_t* body() { return m_body.get(); }
    uint32_t body_length() const { return m_body_len; }
    uint32_t body_capacity() const { return m_capacity; }
    // Header bytes received when the last read ended (0..11).
    uint32_t header_received() const { return m_header_pos; }

private:
    uint8_t m_header[FRAME_HEADER_LEN] = {};
    std::unique_ptr<uint8_t[]> m_body;
    uint32_t m_capacity;
    uint32_t m_header_pos = 0;
    uint32_t m_body_len = 0;
};
