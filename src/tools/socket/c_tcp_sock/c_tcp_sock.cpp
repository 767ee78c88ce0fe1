#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log/log.h"
#include "tools/socket/c_spin_wait.h"
#include "tools/socket/c_tcp_sock/sock_error_text.h"

namespace {

const int kSocketBufferSize = 524288;
// A device or path that went away without a close is found by the system's
// keep-alive probes: 10 s idle, then 3 probes 5 s apart, so a half-open
// connection is given up within about 25 s.
const int kKeepIdleS = 10;
const int kKeepIntervalS = 5;
const int kKeepProbes = 3;

// Logs prefix followed by the error text of the last socket error for "connect".
void log_connect_error_text(const char* prefix)
{
    std::wstring text;
    sock_error_text(L"connect", true, text);
    const std::string local = sock_error_text_local8(text);
    if (!local.empty())
        LOG_ERROR("%s%s", prefix, local.c_str());
}

}  // namespace

c_tcp_sock::c_tcp_sock() = default;

c_tcp_sock::~c_tcp_sock()
{
    close();
    cleanup();
}

int c_tcp_sock::startup()
{
    ++m_startups;
    return 1;
}

int c_tcp_sock::cleanup()
{
    if (m_startups <= 0)
        return -1;
    --m_startups;
    return 1;
}

void c_tcp_sock::set_address(const char* host, uint16_t port)
{
    m_host = host ? host : "";
    if (m_host.size() > 2 && m_host.front() == '[' && m_host.back() == ']')
        m_host = m_host.substr(1, m_host.size() - 2);
    m_remote_addr = INADDR_NONE;
    m_remote_port = htons(port);
}

void c_tcp_sock::fail_close(int fd)
{
    ::close(fd);
}

int c_tcp_sock::create_inner(int family, const char* local_ip, uint16_t local_port)
{
    if (m_sock.load() >= 0) {
        LOG_ERROR("create_sock -1");
        return -1;
    }

    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    m_runtime_error = fd < 0 ? errno : 0;
    if (fd < 0) {
        LOG_ERROR("socket failed.%d", m_runtime_error);
        return -1;
    }

    m_local_addr = local_ip ? inet_addr(local_ip) : 0;
    m_local_port = htons(local_port);
    if (m_local_port != 0 && family == AF_INET) {
        LOG_INFO("bind m_localPort:%u", static_cast<unsigned>(m_local_port));
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = m_local_addr;
        local.sin_port = m_local_port;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            fail_close(fd);
            return -1;
        }
    }

    const int buf = kSocketBufferSize;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf) != 0)
        LOG_WARN("setsockopt SO_RCVBUF failed, errno %d", errno);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf) != 0)
        LOG_WARN("setsockopt SO_SNDBUF failed, errno %d", errno);
    // Every frame goes out in one send call and the channels are request and
    // answer: nothing is gained by holding a small frame back until the
    // previous one is acknowledged, and a KM report or a media message would
    // wait for the peer's delayed acknowledgement.
    const int nodelay = 1;
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay) != 0)
        LOG_WARN("setsockopt TCP_NODELAY failed, errno %d", errno);
    const int keep = 1, idle = kKeepIdleS, interval = kKeepIntervalS, probes = kKeepProbes;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keep, sizeof keep) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) != 0)
        LOG_WARN("setsockopt keep-alive failed, errno %d", errno);
    // SO_DEBUG needs CAP_NET_ADMIN here; without it the connection works the same.
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_DEBUG, &on, sizeof on) != 0)
        LOG_INFO("setsockopt SO_DEBUG refused, errno %d", errno);

    m_sock.store(fd);
    return 1;
}

int c_tcp_sock::create_sock(const char* local_ip, uint16_t local_port, int timeout_ms)
{
    if (m_sock.load() >= 0) {
        LOG_ERROR("create_sock -1");
        LOG_ERROR("c_tcp_sock::create_sock");
        return -1;
    }
    m_resolve_error.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(ntohs(m_remote_port));
    // An empty host would mean this machine: the launch string named none.
    const int gai = m_host.empty() ? EAI_NONAME : ::getaddrinfo(m_host.c_str(), service.c_str(), &hints, &list);
    if (gai != 0) {
        m_runtime_error = gai == EAI_SYSTEM ? errno : EADDRNOTAVAIL;
        m_resolve_error = "unknown host name '" + m_host + "' (" + ::gai_strerror(gai) + ")";
        LOG_ERROR("connect error:%d", -1);
        LOG_ERROR("c_tcp_sock::create_sock 3 %s", m_resolve_error.c_str());
        return -1;
    }
    int result = -1;
    for (const addrinfo* a = list; a && result != 1; a = a->ai_next) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // The last address gets whatever time is left, even none (a connect
        // that completes at once still succeeds).
        result = connect_one(a->ai_addr, unsigned(a->ai_addrlen), local_ip, local_port,
                             int(std::max<int64_t>(0, left.count())));
        if (result == 1 && a->ai_family == AF_INET)
            m_remote_addr = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    }
    ::freeaddrinfo(list);
    return result;
}

int c_tcp_sock::connect_one(const sockaddr* addr, unsigned addr_len, const char* local_ip, uint16_t local_port,
                            int timeout_ms)
{
    if (create_inner(addr->sa_family, local_ip, local_port) != 1) {
        LOG_ERROR("c_tcp_sock::create_sock");
        return -1;
    }
    const int fd = m_sock.load();

    // The connect is started non-blocking so that the time-out bounds it; the
    // socket is blocking again once connected.
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int ret = ::connect(fd, addr, socklen_t(addr_len));
    if (ret != 0 && errno != EINPROGRESS) {
        m_runtime_error = errno;
        LOG_ERROR("connect error:%d", ret);
        log_connect_error_text("c_tcp_sock::create_sock 3");
        m_sock.store(-1);
        fail_close(fd);
        return -1;
    }

    if (ret != 0) {
        if (timeout_ms < 0)
            timeout_ms = 0;
        pollfd p{fd, POLLOUT, 0};
        int sel;
        do {
            sel = ::poll(&p, 1, timeout_ms);
        } while (sel < 0 && errno == EINTR);
        if (sel < 0) {
            LOG_ERROR("connect error:%d", -1);
            log_connect_error_text("connect error:");
            m_runtime_error = errno;
            m_sock.store(-1);
            fail_close(fd);
            return -1;
        }
        if (sel == 0) {
            LOG_ERROR("c_tcp_sock::create_sock 2");
            m_runtime_error = ETIMEDOUT;
            m_sock.store(-1);
            fail_close(fd);
            return -1;
        }
        // Writable: the connect finished, with or without success.
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            errno = err;
            LOG_ERROR("connect error:%d", -1);
            log_connect_error_text("c_tcp_sock::create_sock 3");
            m_runtime_error = err;
            m_sock.store(-1);
            fail_close(fd);
            return -1;
        }
    }
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return 1;
}

int c_tcp_sock::attach_handle(int fd)
{
    if (fd < 0 || m_sock.load() >= 0)
        return -1;
    m_sock.store(fd);
    return 1;
}

int c_tcp_sock::tcp_send(const void* bytes, int length)
{
    if (bytes == nullptr || length <= 0)
        return -1;
    // A device that stops reading must not hold the sending thread for ever:
    // the send waits for room in slices, and gives up after the send
    // time-out. A frame cut short cannot be finished later without
    // corrupting the stream, so the connection is closed then.
    const auto* p = static_cast<const uint8_t*>(bytes);
    int done = 0;
    bool timed_out = false;
    {
        std::shared_lock<std::shared_mutex> g(m_io_lock);
        const int fd = m_sock.load();
        const int limit = m_send_timeout_ms.load();
        int waited = 0;
        while (fd >= 0 && done < length && m_sock.load() == fd) {
            const ssize_t n = ::send(fd, p + done, static_cast<size_t>(length - done), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += int(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                break;
            if (waited >= limit) {
                timed_out = true;
                break;
            }
            const int slice = std::min(100, limit - waited);
            pollfd pf{fd, POLLOUT, 0};
            if (::poll(&pf, 1, slice) < 0 && errno != EINTR)
                break;
            waited += slice;
        }
    }
    if (done == length)
        return 1;
    if (timed_out) {
        LOG_ERROR("c_tcp_sock::tcp_send: the peer took no bytes for %d ms, connection closed", m_send_timeout_ms.load());
        close();
        errno = ETIMEDOUT;
        return -1;
    }
    LOG_ERROR("c_tcp_sock::tcp_send socket error.");
    return -1;
}

void c_tcp_sock::set_user_timeout(int ms)
{
    const int fd = m_sock.load();
    const unsigned value = ms > 0 ? unsigned(ms) : 0u;
    if (fd >= 0 && setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &value, sizeof value) != 0)
        LOG_WARN("setsockopt TCP_USER_TIMEOUT failed, errno %d", errno);
}

int c_tcp_sock::tcp_recv(void* buf, int size, int flags)
{
    if (buf == nullptr)
        return -1;
    std::shared_lock<std::shared_mutex> g(m_io_lock);
    const int fd = m_sock.load();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(::recv(fd, buf, size < 0 ? 0 : static_cast<size_t>(size), flags));
}

int c_tcp_sock::wait_readable(int timeout_ms)
{
    std::shared_lock<std::shared_mutex> g(m_io_lock);
    const int fd = m_sock.load();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeout_ms);
    if (r <= 0)
        return r;
    return (p.revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
}

int c_tcp_sock::tcp_recv_within(void* buf, int size, int timeout_ms, c_spin_wait* spin)
{
    // The look is a poll, not a receive: a receive takes the socket's lock,
    // and segments arriving meanwhile are then queued behind it.
    const bool ready = spin && spin->spin([this] { return wait_readable(0) != 0; });
    const int w = ready ? 1 : wait_readable(timeout_ms);
    if (w == 0)
        errno = EAGAIN;
    if (w <= 0)
        return -1;
    return tcp_recv(buf, size, 0);
}

void c_tcp_sock::close()
{
    const int fd = m_sock.exchange(-1);
    if (fd < 0)
        return;
    // Wake any send or receive blocked on this socket, then release the
    // descriptor once those calls have left the system.
    ::shutdown(fd, SHUT_RDWR);
    std::unique_lock<std::shared_mutex> g(m_io_lock);
    ::close(fd);
}
