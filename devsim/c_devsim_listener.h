#pragma once
// A listening TCP socket on 127.0.0.1 only (the device never listens on
// another address).
#include <cstdint>

class c_devsim_listener
{
public:
    c_devsim_listener() = default;
    ~c_devsim_listener();

    c_devsim_listener(const c_devsim_listener&) = delete;
    c_devsim_listener& operator=(const c_devsim_listener&) = delete;

    // Binds 127.0.0.1:port (0: the system chooses) and listens. False with
    // errno set when the port is taken or the socket fails.
    bool listen(uint16_t port);

    // Waits up to timeout_ms for a connection: its descriptor, or -1 (time-out,
    // not listening, error).
    int accept(int timeout_ms);

    // The bound port (the real one after listen(0)).
    uint16_t port() const { return m_port; }
    bool is_listening() const { return m_fd >= 0; }
    void close();

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};
