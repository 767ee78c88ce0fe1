#include "tools/decoder/c_frame_assembler.h"

#include "log/log.h"

#include <cstring>

c_frame_assembler::c_frame_assembler(int capacity)
    : m_capacity(capacity > 0 ? capacity : k_default_capacity)
    , m_buffer(new uint8_t[size_t(m_capacity)])
{
}

const uint8_t* c_frame_assembler::add(const uint8_t* body, int length, int* unit_length)
{
    if (!body || length < k_header_length)
        return nullptr;
    const bool last = body[1] == 1;
    const uint8_t* payload = body + k_header_length;
    const int payload_length = length - k_header_length;

    if (m_discarding) {
        if (last)
            m_discarding = false;
        return nullptr;
    }

    if (payload_length > m_capacity - m_filled) {
        LOG_ERROR("video access unit over %d bytes dropped", m_capacity);
        m_filled = 0;
        m_discarding = !last;
        return nullptr;
    }

    if (m_filled == 0 && last) {
        *unit_length = payload_length;
        return payload;
    }

    std::memcpy(m_buffer.get() + m_filled, payload, size_t(payload_length));
    m_filled += payload_length;
    if (!last)
        return nullptr;
    *unit_length = m_filled;
    m_filled = 0;
    return m_buffer.get();
}
