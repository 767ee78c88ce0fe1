#pragma once
// The device side of a loopback connection for transport tests: listens on
// 127.0.0.1 (a free port), accepts one client, writes and reads raw bytes with
// bounded waits. Never any other address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/wait_until.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

class LoopbackPeer
{
public:
    explicit LoopbackPeer(int backlog = 4)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, backlog);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackPeer()
    {
        close_client();
        if (m_listen >= 0)
            ::close(m_listen);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return m_port; }

    bool accept_client(int timeout_ms = 5000)
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_client >= 0) {
            int on = 1;  // small writes leave at once, one segment each
            setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        return m_client >= 0;
    }

    bool send_bytes(const std::vector<uint8_t>& bytes) { return send_bytes(bytes.data(), bytes.size()); }
    bool send_bytes(const uint8_t* p, size_t n)
    {
        while (n > 0) {
            const ssize_t r = ::send(m_client, p, n, MSG_NOSIGNAL);
            if (r <= 0)
                return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }

    // Reads exactly n bytes within timeout_ms; fewer on time-out or close.
    std::vector<uint8_t> recv_bytes(size_t n, int timeout_ms = 5000)
    {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{m_client, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            uint8_t buf[4096];
            const ssize_t r = ::recv(m_client, buf, std::min(sizeof buf, n - out.size()), 0);
            if (r <= 0)
                break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }

    // True when the client closed its end within timeout_ms (reads and discards data).
    bool wait_client_closed(int timeout_ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_client, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                uint8_t buf[4096];
                const ssize_t r = ::recv(m_client, buf, sizeof buf, 0);
                if (r <= 0)
                    return true;
            }
        }
        return false;
    }

    void close_client()
    {
        if (m_client >= 0)
            ::close(m_client);
        m_client = -1;
    }

    int listen_fd() const { return m_listen; }
    int client_fd() const { return m_client; }

private:
    int m_listen = -1;
    int m_client = -1;
    uint16_t m_port = 0;
};

// Connects s to the peer through the client's own connect path and lets the
// peer accept it; false when either side fails.
inline bool connect_client(c_tcp_sock& s, LoopbackPeer& peer)
{
    s.startup();
    s.set_address("127.0.0.1", peer.port());
    return s.create_sock(nullptr, 0, 2000) == 1 && peer.accept_client();
}

// A connected client socket shared with the channel threads; null on failure.
inline std::shared_ptr<c_tcp_sock> connect_to(LoopbackPeer& peer)
{
    auto s = std::make_shared<c_tcp_sock>();
    if (!connect_client(*s, peer))
        return nullptr;
    return s;
}
