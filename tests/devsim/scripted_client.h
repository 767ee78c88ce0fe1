#pragma once
// A scripted viewer for devsim tests, made of the project's own transport
// parts: c_tcp_sock connects, the message builders frame, c_frame_reader cuts
// what comes back. Every wait has a deadline; nothing sleeps a fixed time.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/wait_until.h"
#include "tools/socket/CQUEUE_MESSAGE.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_frame_reader.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

struct received_frame
{
    uint8_t header[FRAME_HEADER_LEN] = {};
    std::vector<uint8_t> body;
    uint32_t plain_len() const { return frame_plain_len(header); }
    uint32_t wire_len() const { return frame_wire_len(header); }
    int type() const { return body.empty() ? -1 : body[0]; }
};

class scripted_channel : public c_byte_source
{
public:
    scripted_channel() : m_sock(std::make_shared<c_tcp_sock>()) { m_sock->startup(); }

    bool connect(uint16_t port)
    {
        m_sock->set_address("127.0.0.1", port);
        return m_sock->create_sock(nullptr, 0, 2000) == 1;
    }
    void close() { m_sock->close(); }
    bool is_open() const { return m_sock->is_open(); }

    bool send_raw(const void* bytes, size_t len) { return m_sock->tcp_send(bytes, int(len)) == 1; }
    bool send(const std::vector<uint8_t>& frame) { return send_raw(frame.data(), frame.size()); }
    // Sends and frees a generic message from the builders.
    bool send(CQUEUE_MESSAGE m)
    {
        const bool ok = !m.empty() && send_raw(m.data, m.length);
        m.free_data();
        return ok;
    }

    // The next frame within timeout_ms; false on time-out or when the device
    // closed the connection (closed() then says so).
    bool next(received_frame& out, int timeout_ms = 5000)
    {
        m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        const frame_read_result r = m_reader.read_frame(*this);
        if (r == frame_read_result::peer_closed)
            m_closed = true;
        if (r != frame_read_result::frame)
            return false;
        memcpy(out.header, m_reader.header(), FRAME_HEADER_LEN);
        out.body.assign(m_reader.body(), m_reader.body() + m_reader.body_length());
        return true;
    }

    // The next frame for which pred holds, skipping others (video pictures).
    bool next_where(received_frame& out, const std::function<bool(const received_frame&)>& pred,
                    int timeout_ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     end - std::chrono::steady_clock::now())
                                     .count());
            if (!next(out, left > 0 ? left : 1))
                return false;
            if (pred(out))
                return true;
        }
        return false;
    }

    // True when the device closes the connection within timeout_ms
    // (frames that still arrive meanwhile are skipped).
    bool wait_closed(int timeout_ms = 5000)
    {
        received_frame f;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!m_closed && std::chrono::steady_clock::now() < end)
            next(f, 200);
        return m_closed;
    }
    bool closed() const { return m_closed; }

    // c_byte_source
    int recv(uint8_t* buf, int len) override
    {
        const int w = m_sock->wait_readable(50);
        if (w == 0)
            return -1;
        if (w < 0)
            return 0;
        const int n = m_sock->tcp_recv(buf, len, 0);
        return n < 0 ? 0 : n;
    }
    bool should_stop() override { return std::chrono::steady_clock::now() > m_deadline; }

private:
    std::shared_ptr<c_tcp_sock> m_sock;
    c_frame_reader m_reader;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_closed = false;
};

// The common bounded wait, polled every 5 ms here.
inline bool wait_for(const std::function<bool()>& cond, int timeout_ms = 10000)
{
    return wait_until(cond, timeout_ms, 5);
}
