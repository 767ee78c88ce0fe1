#pragma once
// Worker bound to one socket and one handler. Also holds the receive loop that
// the three receive threads share (frame cutting, channel check, dispatch).
#include <atomic>
#include <cstdint>
#include <memory>

#include "tools/socket/c_abs_thread.h"

class c_tcp_sock;
class c_abs_net_handler;

class c_socket_thread : public c_abs_thread
{
    Q_OBJECT
public:
    explicit c_socket_thread(std::shared_ptr<c_tcp_sock> sock);
    ~c_socket_thread() override;

    // True when the run flag is cleared or the socket is closed.
    bool should_stop() const;
    // Closes the socket and emits the class's close signal.
    void close_and_notify();

    // Not owned; the handler outlives the thread. Set before start().
    void set_handler(c_abs_net_handler* handler) { m_handler.store(handler); }
    c_abs_net_handler* handler() const { return m_handler.load(); }

    const std::shared_ptr<c_tcp_sock>& socket() const { return m_socket; }

    bool run_flag() const { return m_run.load(); }
    // Clears the run flag and wakes any wait of the thread (wake-up object,
    // acknowledgement wait). Does not touch the socket.
    virtual void request_stop();

    // Full stop: close the socket (a blocked receive or send returns at once),
    // request_stop(), wait up to wait_ms. True when the thread is not running.
    bool stop(unsigned long wait_ms = 1000);

    // Deleter for shared pointers and owners: stop(), wait until the thread has
    // really ended (never deletes a running thread), then delete.
    static void destroy(c_socket_thread* thread);

protected:
    // Ends a still running thread (closes the socket and waits); for destructors.
    void ensure_stopped();

    // Emits the concrete class's close signal (receive threads have one).
    virtual void emit_close_signal() {}

    // Receive threads: the shared loop; returns when the thread must end.
    // spin_before_sleep: a stop-and-wait channel whose answers come back
    // within microseconds looks for them briefly before sleeping in poll.
    void run_receive_loop(bool spin_before_sleep = false);
    // Channel check and dispatch of one complete frame (header 11 bytes, body
    // of body_len bytes in a buffer of 524288 bytes).
    virtual void handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len);
    // Called when the peer closed in the header or body phase, before close_and_notify().
    virtual void on_peer_closed_mid_frame() {}

    std::atomic<bool> m_run{true};
    std::shared_ptr<c_tcp_sock> m_socket;
    std::atomic<c_abs_net_handler*> m_handler{nullptr};
};
