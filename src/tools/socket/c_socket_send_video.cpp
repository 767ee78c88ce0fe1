#include "tools/socket/c_socket_send_video.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"

c_socket_send_video::c_socket_send_video(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue,
                                         c_wake_up* wake)
    : c_socket_thread(std::move(sock)), m_queue(queue), m_wake(wake)
{
    m_run.store(true);
}

c_socket_send_video::~c_socket_send_video()
{
    ensure_stopped();
}

void c_socket_send_video::request_stop()
{
    c_socket_thread::request_stop();
    if (m_wake)
        m_wake->wake_all();
}

void c_socket_send_video::run()
{
    while (m_run.load()) {
        // The ticket is taken before the look at the queue, so a push in
        // between ends the wait at once.
        const unsigned long ticket = m_wake ? m_wake->ticket() : 0;
        if (!m_queue || m_queue->size() == 0) {
            // Woken by the push and by a stop; the bound only covers a missed wake.
            if (m_wake)
                m_wake->wait_from(ticket, 1000);
            else
                msleep(100);
            continue;
        }
        if (should_stop())
            return;
        const CQUEUE_MESSAGE& head = m_queue->front();
        // A frame that fails to send is dropped (tcp_send logs it).
        m_socket->tcp_send(head.data, static_cast<int>(head.length));
        CQUEUE_MESSAGE sent;
        m_queue->pop(sent);
        sent.free_data();
    }
}
