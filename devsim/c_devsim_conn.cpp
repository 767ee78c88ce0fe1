#include "c_devsim_conn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {
// More stray zero bytes than one KM frame's tail is not the viewer any more.
constexpr int k_max_zero_run = 8;
}  // namespace

c_devsim_conn::c_devsim_conn(int fd, const std::atomic<bool>* stop_flag, bool busy_wait)
    : m_sock(std::make_shared<c_tcp_sock>()), m_stop(stop_flag), m_busyWait(busy_wait)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
        m_peer = std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
    }
    m_sock->startup();
    m_sock->attach_handle(fd);
}

c_devsim_conn::~c_devsim_conn()
{
    close();
}

bool c_devsim_conn::send(const std::vector<uint8_t>& frame)
{
    if (frame.empty())
        return false;
    std::lock_guard<std::mutex> lk(m_sendLock);
    if (m_mute)
        return false;
    return m_sock->tcp_send(frame.data(), int(frame.size())) == 1;
}

bool c_devsim_conn::inject(const std::vector<uint8_t>& bytes, after_inject after)
{
    std::lock_guard<std::mutex> lk(m_sendLock);
    const bool sent = bytes.empty() || m_sock->tcp_send(bytes.data(), int(bytes.size())) == 1;
    switch (after) {
    case after_inject::keep:
        break;
    case after_inject::mute:
        m_mute = true;
        break;
    case after_inject::close:
        m_sock->close();
        break;
    case after_inject::reset: {
        // Linger 0 and a disconnect abort the connection with RST; a plain
        // close() would shut it down with FIN first.
        const int fd = m_sock->get_handle();
        if (fd >= 0) {
            const linger l{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            sockaddr unspec{};
            unspec.sa_family = AF_UNSPEC;
            ::connect(fd, &unspec, sizeof unspec);
        }
        m_sock->close();
        break;
    }
    }
    return sent;
}

void c_devsim_conn::close()
{
    m_sock->close();
}

bool c_devsim_conn::is_open() const
{
    return m_sock->is_open();
}

bool c_devsim_conn::should_stop()
{
    return (m_stop && m_stop->load()) || !m_sock->is_open();
}

void c_devsim_conn::frame_done()
{
    m_between = true;
    m_zeros = 0;
}

int c_devsim_conn::socket_source::recv(uint8_t* buf, int len)
{
    c_tcp_sock& sock = *m_conn.m_sock;
    const int n = sock.tcp_recv_within(buf, len, 100, m_conn.m_busyWait ? &m_conn.m_spin : nullptr);
    if (n >= 0)
        return n;
    // Nothing yet: the reader tests should_stop() and asks again.
    if (!sock.is_open())
        return 0;
    return (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : 0;
}

int c_devsim_conn::recv(uint8_t* buf, int len)
{
    if (!m_garbage.empty())
        return 0;
    // Bytes between frames are checked as the reader takes them, whatever
    // one receive brought along.
    const int n = m_buffered.recv(buf, len);
    if (n <= 0)
        return n;
    for (int i = 0; i < n && m_between; ++i) {
        if (buf[i] == FRAME_SYNC) {
            m_between = false;
        } else if (buf[i] == 0 && ++m_zeros <= k_max_zero_run) {
            continue;
        } else {
            char text[96];
            snprintf(text, sizeof text, "byte 0x%02x where a frame should start", buf[i]);
            if (buf[i] == 0)
                snprintf(text, sizeof text, "more than %d zero bytes between frames", k_max_zero_run);
            m_garbage = text;
            return 0;
        }
    }
    return n;
}
