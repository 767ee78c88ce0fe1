#include "tools/socket/c_socket_thread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_buffered_byte_source.h"
#include "tools/socket/c_frame_reader.h"
#include "tools/socket/c_spin_wait.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

namespace {

// The channel socket as a byte source: one receive per read. When spinning,
// a read looks for bytes without sleeping first and sleeps at most 1000 ms
// (the reader then tests for a stop and asks again).
class socket_byte_source : public c_byte_source
{
public:
    socket_byte_source(c_socket_thread& thread, bool spinning) : m_thread(thread), m_spinning(spinning) {}

    int recv(uint8_t* buf, int len) override
    {
        if (len <= 0)
            return -1;
        if (m_spinning)
            return checked(m_thread.socket()->tcp_recv_within(buf, len, 1000, &m_spin));
        return checked(m_thread.socket()->tcp_recv(buf, len, 0));
    }

    bool should_stop() override { return m_thread.should_stop(); }

    // The error that ended the stream, 0 when the peer closed it.
    int error() const { return m_error; }

private:
    int checked(int r)
    {
        if (r >= 0)
            return r;
        // Interrupted or spurious: try again. Any other error (reset, closed
        // handle) will not clear by retrying; treat it as the end of the stream
        // rather than spin on it.
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        m_error = errno;
        return 0;
    }

    c_socket_thread& m_thread;
    const bool m_spinning;
    c_spin_wait m_spin;
    int m_error = 0;
};

}  // namespace

c_socket_thread::c_socket_thread(std::shared_ptr<c_tcp_sock> sock) : m_socket(std::move(sock)) {}

c_socket_thread::~c_socket_thread()
{
    ensure_stopped();
}

void c_socket_thread::ensure_stopped()
{
    // Owners delete through destroy(); this is the last guard against freeing a
    // running thread object (each concrete destructor calls it first).
    if (isRunning()) {
        request_stop();
        if (m_socket)
            m_socket->close();
        wait();
    }
}

bool c_socket_thread::should_stop() const
{
    return !m_run.load() || !m_socket || m_socket->get_handle() < 0;
}

void c_socket_thread::close_and_notify()
{
    if (m_socket)
        m_socket->close();
    emit_close_signal();
}

void c_socket_thread::request_stop()
{
    m_run.store(false);
}

bool c_socket_thread::stop(unsigned long wait_ms)
{
    // Stop first, then close: the thread that sees the closed socket already
    // knows it was stopped.
    request_stop();
    if (m_socket)
        m_socket->close();
    return wait(wait_ms);
}

void c_socket_thread::destroy(c_socket_thread* thread)
{
    if (!thread)
        return;
    thread->request_stop();
    // A receive thread may sit in a blocking receive inside a frame that the
    // device never finishes: closing the socket makes that call return now,
    // not after the wait below.
    if (thread->isRunning() && thread->m_socket)
        thread->m_socket->close();
    thread->wait();
    delete thread;
}

void c_socket_thread::handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len)
{
    if (c_abs_net_handler* h = handler())
        h->on_net_msg(this, body, frame_plain_len_field(header), body_len);
}

void c_socket_thread::run_receive_loop(bool spin_before_sleep)
{
    c_frame_reader reader(FRAME_BODY_BUFFER_SIZE);
    socket_byte_source socket_source(*this, spin_before_sleep);
    c_buffered_byte_source source(socket_source);

    while (m_run.load()) {
        if (!m_socket || m_socket->get_handle() < 0)
            return;
        // With bytes of the next frame already received, there is nothing to
        // wait for; a spinning source waits in its own reads.
        if (!source.has_buffered() && !spin_before_sleep) {
            // Every stop closes the socket, which ends the wait at once: the
            // time-out only bounds a stop that did not.
            const int sel = m_socket->wait_readable(1000);
            if (sel < 0) {
                printf("\nc_tcp_sock::tcp_recv socket error = %d", errno);
                fflush(stdout);
                continue;
            }
            if (sel == 0)
                continue;
        }
        if (should_stop())
            return;

        switch (reader.read_frame(source)) {
        case frame_read_result::frame:
            handle_frame(reader.header(), reader.body(), reader.body_length());
            break;
        case frame_read_result::stopped:
            return;
        case frame_read_result::peer_closed:
            // Our own stop shuts the socket down too; that is no peer close.
            if (should_stop())
                return;
            if (socket_source.error() != 0)
                LOG_WARN("%s: connection lost: %s%s", metaObject()->className(), strerror(socket_source.error()),
                         reader.header_received() > 0 ? ", in the middle of a frame" : "");
            else
                LOG_WARN("%s: connection closed by the device%s", metaObject()->className(),
                         reader.header_received() > 0 ? " in the middle of a frame" : "");
            if (reader.header_received() > 0)
                on_peer_closed_mid_frame();
            close_and_notify();
            return;
        case frame_read_result::oversized:
            LOG_ERROR("frame wire length %u exceeds the receive buffer of %u bytes, channel closed",
                      frame_wire_len(reader.header()), static_cast<unsigned>(FRAME_BODY_BUFFER_SIZE));
            close_and_notify();
            return;
        }
    }
}
