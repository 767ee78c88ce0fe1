#pragma once
// One TCP connection to the device (IPv4 or IPv6). Results are 1 (success) or -1
// (failure), except tcp_recv, which passes the system's result through.
//
// Thread use: a channel's send thread calls tcp_send, its receive thread
// calls wait_readable/tcp_recv, and any thread may call close() meanwhile.
// close() shuts the connection down first, so a blocked send or receive
// returns at once, and releases the descriptor only when no call is inside
// the system any more (so a descriptor number can never be reused under a
// running call).
#include <atomic>
#include <cstdint>
#include <shared_mutex>
#include <string>

class c_spin_wait;

class c_tcp_sock
{
public:
    c_tcp_sock();
    ~c_tcp_sock();  // close(), then cleanup()

    c_tcp_sock(const c_tcp_sock&) = delete;
    c_tcp_sock& operator=(const c_tcp_sock&) = delete;

    // Balanced per object; nothing to initialise on this platform.
    int startup();
    int cleanup();

    // Remote host: an IPv4 or IPv6 address (an IPv6 one may be in brackets)
    // or a host name, resolved at create_sock; port in host order.
    void set_address(const char* host, uint16_t port);

    // Resolves the host, opens, optionally binds (local_port != 0, IPv4) and
    // connects within timeout_ms in all, trying each of the host's addresses
    // in turn. Returns 1 when connected, -1 otherwise (socket closed again on
    // failure; resolve_error() is set when the name did not resolve).
    int create_sock(const char* local_ip, uint16_t local_port, int timeout_ms);
    // "unknown host name 'x' (Name or service not known)"; empty unless the
    // last create_sock failed to resolve.
    const std::string& resolve_error() const { return m_resolve_error; }

    // Takes over an already connected descriptor (a listening peer's accepted
    // connection, e.g. the test device). Returns -1 when already open.
    int attach_handle(int fd);

    // Sends every byte (MSG_NOSIGNAL), waiting for room at most the send
    // time-out in all: 1 when every byte was taken, else -1. A time-out closes
    // the connection (errno ETIMEDOUT): a frame cut short cannot be resumed.
    int tcp_send(const void* bytes, int length);
    void set_send_timeout(int ms) { m_send_timeout_ms.store(ms < 0 ? 0 : ms); }
    // Bytes sent and not acknowledged by the peer's system for ms end the
    // connection with ETIMEDOUT (TCP_USER_TIMEOUT); call once connected.
    void set_user_timeout(int ms);

    // One receive call: byte count, 0 when the peer closed, -1 on error or when
    // buf is null / the socket is closed. errno is left as the call set it.
    int tcp_recv(void* buf, int size, int flags);

    // Waits up to timeout_ms for readability: 1 readable (or hung up),
    // 0 time-out, -1 error (closed socket included).
    int wait_readable(int timeout_ms);

    // Waits up to timeout_ms for bytes, then receives. Given a spin, it first
    // looks for them without sleeping while that pays (answers coming back
    // within microseconds). As tcp_recv; -1 with errno EAGAIN when nothing
    // came in time.
    int tcp_recv_within(void* buf, int size, int timeout_ms, c_spin_wait* spin = nullptr);

    // Closes when open and marks the handle invalid; otherwise does nothing.
    void close();

    // The descriptor, or -1 while closed.
    int get_handle() const { return m_sock.load(); }
    bool is_open() const { return m_sock.load() >= 0; }

    // Last error number stored by create_sock (errno values).
    int runtime_error() const { return m_runtime_error; }

    uint32_t remote_address() const { return m_remote_addr; }  // network order; IPv4 once connected
    uint16_t remote_port() const { return m_remote_port; }     // network order

private:
    int create_inner(int family, const char* local_ip, uint16_t local_port);
    // One address: 1 connected, -1 failed (m_runtime_error says why).
    int connect_one(const struct sockaddr* addr, unsigned addr_len, const char* local_ip, uint16_t local_port,
                    int timeout_ms);
    void fail_close(int fd);

    uint32_t m_local_addr = 0;   // network order, 0 = any
    uint16_t m_local_port = 0;   // network order, 0 = no bind
    uint32_t m_remote_addr = 0;  // network order
    std::string m_host;
    std::string m_resolve_error;
    uint16_t m_remote_port = 0;  // network order
    std::atomic<int> m_sock{-1};

    int m_runtime_error = 0;
    std::atomic<int> m_send_timeout_ms{30000};
    int m_startups = 0;
    // Shared by calls inside the system, exclusive while releasing the descriptor.
    mutable std::shared_mutex m_io_lock;
};
