#pragma once
// Byte source that serves small reads from one larger read of the source
// beneath. The frame reader asks for the sync byte, then the rest of the
// header, then the body: over a socket a short frame then costs one system
// call instead of three. Reads of at least a chunk (video bodies) go straight
// into the caller's buffer once the buffered bytes are used up.
#include <cstdint>

#include "tools/socket/c_frame_reader.h"

class c_buffered_byte_source : public c_byte_source
{
public:
    static constexpr int k_chunk = 4096;

    explicit c_buffered_byte_source(c_byte_source& inner) : m_inner(inner) {}

    int recv(uint8_t* buf, int len) override;
    bool should_stop() override { return m_inner.should_stop(); }

    // Bytes received but not yet handed out: the next frame may be complete
    // without waiting for the source.
    bool has_buffered() const { return m_have > 0; }

private:
    c_byte_source& m_inner;
    uint8_t m_chunk[k_chunk];
    int m_pos = 0;
    int m_have = 0;
};
