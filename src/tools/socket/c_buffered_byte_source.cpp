#include "tools/socket/c_buffered_byte_source.h"

#include <algorithm>
#include <cstring>

int c_buffered_byte_source::recv(uint8_t* buf, int len)
{
    if (len <= 0)
        return -1;
    if (m_have > 0) {
        const int n = std::min(len, m_have);
        std::memcpy(buf, m_chunk + m_pos, size_t(n));
        m_pos += n;
        m_have -= n;
        return n;
    }
    if (len >= k_chunk)
        return m_inner.recv(buf, len);
    const int r = m_inner.recv(m_chunk, k_chunk);
    if (r <= 0)
        return r;
    const int n = std::min(len, r);
    std::memcpy(buf, m_chunk, size_t(n));
    m_pos = n;
    m_have = r - n;
    return n;
}
