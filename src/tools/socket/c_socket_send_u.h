#pragma once
// Send thread of the media channel: sends the queue head and waits up to
// 2000 ms for its acknowledgement; an unacknowledged head is sent again.
#include <functional>
#include <mutex>

#include "tools/socket/c_socket_thread.h"
#include "tools/socket/mt_queue.h"

class c_wake_up;

class c_socket_send_u : public c_socket_thread
{
    Q_OBJECT
public:
    c_socket_send_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake);
    ~c_socket_send_u() override;

    // Called on this thread when a send failed on a connection that was up
    // (not when stopped); set before start().
    void set_lost_handler(std::function<void()> fn) { m_on_lost = std::move(fn); }

    void request_stop() override;

protected:
    void run() override;

private:
    void send_loop();

    mt_queue<CQUEUE_MESSAGE>* m_queue;
    c_wake_up* m_wake;
    std::function<void()> m_on_lost;
};
