#include "tools/socket/c_socket_send_u.h"

#include <cstdio>

#include "log/log.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"

c_socket_send_u::c_socket_send_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake)
    : c_socket_thread(std::move(sock)), m_queue(queue), m_wake(wake)
{
    m_run.store(true);
}

c_socket_send_u::~c_socket_send_u()
{
    ensure_stopped();
}

void c_socket_send_u::request_stop()
{
    c_socket_thread::request_stop();
    if (m_queue)
        m_queue->cancel_wait();
    if (m_wake)
        m_wake->wake_all();
}

void c_socket_send_u::run()
{
    send_loop();
}

void c_socket_send_u::send_loop()
{
    while (m_run.load() && !should_stop()) {
        // Taken before the queue is looked at: a message queued after the
        // look ends the wait below at once.
        const unsigned long ticket = m_wake ? m_wake->ticket() : 0;
        if (!m_queue)
            return;
        if (m_queue->size() == 0) {
            // Every push wakes this thread, and so does a stop: the time-out
            // only bounds a wake-up that was missed.
            if (m_wake)
                m_wake->wait_from(ticket, 1000);
            else
                msleep(5);
            continue;
        }
        if (should_stop())
            return;

        // The head stays queued until acknowledged, so a refusal or a time-out
        // sends the same message again.
        const CQUEUE_MESSAGE head = m_queue->front();
        if (head.empty()) {
            CQUEUE_MESSAGE dropped;
            m_queue->pop(dropped);
            dropped.free_data();
            continue;
        }
        char name[32];
        const unsigned type = head.length > FRAME_HEADER_LEN ? head.data[FRAME_HEADER_LEN] : 0u;
        if (type == 8)
            snprintf(name, sizeof name, "pak_ask");
        else if (type == 9)
            snprintf(name, sizeof name, "pak_readData");
        else
            snprintf(name, sizeof name, "pak_Type=%u", type);

        if (m_socket->tcp_send(head.data, static_cast<int>(head.length)) != 1) {
            // The connection is gone (or was closed for not taking bytes):
            // nothing more can leave on it.
            if (m_run.load() && m_on_lost)
                m_on_lost();
            return;
        }
        if (m_queue->wait_ack(2000)) {
            CQUEUE_MESSAGE done;
            m_queue->pop(done);
            done.free_data();
        } else if (m_run.load() && !should_stop()) {
            LOG_ERROR("wait ack failed,%s", name);
        }
    }
}
