#pragma once
// The device side of the media channel on loopback, driven step by step by a
// test: accepts the viewer's connection, reads its frames with a deadline and
// sends device messages.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/unused_port.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"

namespace media_peer
{
using bytes = std::vector<uint8_t>;
using clock_type = std::chrono::steady_clock;

// Reads from a socket until a deadline.
class deadline_source : public c_byte_source
{
public:
    deadline_source(int fd, clock_type::time_point end) : m_fd(fd), m_end(end) {}
    int recv(uint8_t* buf, int len) override
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_end - clock_type::now()).count();
        pollfd p{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            return -1;
        const ssize_t n = ::recv(m_fd, buf, static_cast<size_t>(len), 0);
        return n < 0 ? -1 : static_cast<int>(n);
    }
    bool should_stop() override { return clock_type::now() >= m_end; }

private:
    int m_fd;
    clock_type::time_point m_end;
};

class scripted_device
{
public:
    scripted_device()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~scripted_device()
    {
        if (m_conn >= 0)
            ::close(m_conn);
        ::close(m_listen);
    }
    uint16_t port() const { return m_port; }

    bool accept_client(int ms = 5000)
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return false;
        m_conn = ::accept(m_listen, nullptr, nullptr);
        return m_conn >= 0;
    }

    // The body of the next frame, empty when none came in time. Checks the
    // frame header on the way.
    bytes next(int ms = 5000)
    {
        deadline_source src(m_conn, clock_type::now() + std::chrono::milliseconds(ms));
        if (m_reader.read_frame(src) != frame_read_result::frame)
            return {};
        const uint8_t* h = m_reader.header();
        const uint32_t n = m_reader.body_length();
        EXPECT_EQ(FRAME_VERSION, h[1]);
        EXPECT_EQ(n, frame_plain_len(h));
        EXPECT_EQ(sum8(m_reader.body(), n), h[2]);
        return bytes(m_reader.body(), m_reader.body() + n);
    }

    void send(const bytes& body)
    {
        bytes frame(FRAME_HEADER_LEN + body.size() + 8);
        uint32_t len = 0;
        ASSERT_TRUE(frame_serialise({{static_cast<uint32_t>(body.size()), body.data()}}, frame.data(),
                                    static_cast<uint32_t>(frame.size()), &len));
        ASSERT_EQ(static_cast<ssize_t>(len), ::send(m_conn, frame.data(), len, MSG_NOSIGNAL));
    }

    void close_connection()
    {
        ::close(m_conn);
        m_conn = -1;
    }

private:
    int m_listen = -1;
    int m_conn = -1;
    uint16_t m_port = 0;
    c_frame_reader m_reader;
};

// Device messages and the client messages a test expects.
inline bytes status_answer(uint8_t wish, uint32_t start, uint16_t count)
{
    bytes b(8);
    b[0] = 0x08;
    b[1] = wish;
    write_be32(&b[2], start);
    write_be16(&b[6], count);
    return b;
}

inline bytes write_data(uint32_t start, uint16_t offset, uint8_t fill)
{
    bytes b(520, fill);
    b[0] = 0x0A;
    b[1] = 0x01;
    write_be32(&b[2], start);
    write_be16(&b[6], offset);
    return b;
}

inline bytes map_msg(uint8_t flags, uint32_t count)
{
    bytes b{0x07, 0x01, flags, 0, 0, 0, 0};
    write_be32(&b[3], count);
    return b;
}

// The first 8 bytes of a read-data message (type, 0x01, start, index).
inline bytes read_data_head(const bytes& b)
{
    return b.size() >= 8 ? bytes(b.begin(), b.begin() + 8) : b;
}

inline bytes read_data_head(uint32_t start, uint16_t index)
{
    bytes b{0x09, 0x01, 0, 0, 0, 0, 0, 0};
    write_be32(&b[2], start);
    write_be16(&b[6], index);
    return b;
}

// A loopback port on which nobody listens (for refused connections).
inline uint16_t unused_port()
{
    return unused_loopback_port();
}
}  // namespace media_peer
