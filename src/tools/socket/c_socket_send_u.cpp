#include "tools/socket/c_socket_send_u.h"

#include <cstdio>

#include "log/log.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_net_syncer.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"

c_socket_send_u::c_socket_send_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake)
    : c_socket_thread(std::move(sock)), m_queue(queue), m_wake(wake), m_sync_wake(std::make_shared<c_sync_wake>())
{
    m_run.store(true);
    m_sync_wake->wake.store(wake);
}

c_socket_send_u::~c_socket_send_u()
{
    ensure_stopped();
    m_sync_wake->wake.store(nullptr);
}

void c_socket_send_u::set_syncer(c_net_syncer* syncer)
{
    bool lost;
    {
        std::lock_guard<std::mutex> g(m_lost_lock);
        m_syncer.store(syncer);
        lost = m_lost;
    }
    if (!syncer)
        return;
    syncer->set_sync_wake(m_sync_wake);
    // The channel may have gone (or never come) before the syncer was
    // attached: the thread then ended with nobody to tell.
    if (lost)
        syncer->sync_thread_lost();
}

void c_socket_send_u::request_stop()
{
    // The wake-up object belongs to the channel's owner, which may go before
    // the syncer: stop lending it.
    m_sync_wake->wake.store(nullptr);
    c_socket_thread::request_stop();
    if (m_queue)
        m_queue->cancel_wait();
    if (m_wake)
        m_wake->wake_all();
}

void c_socket_send_u::run()
{
    send_loop();
    // Ended with its channel (lost, or never connected) rather than stopped:
    // the syncer's messages need another way out.
    if (m_run.load() && should_stop()) {
        c_net_syncer* s;
        {
            std::lock_guard<std::mutex> g(m_lost_lock);
            m_lost = true;
            s = m_syncer.load();
        }
        if (s)
            s->sync_thread_lost();
    }
}

void c_socket_send_u::send_loop()
{
    while (m_run.load() && !should_stop()) {
        // Taken before either queue is looked at: a KM message or a media
        // message queued after the look ends the wait below at once.
        const unsigned long ticket = m_wake ? m_wake->ticket() : 0;
        // KM traffic goes first, one message per pass.
        if (c_net_syncer* s = m_syncer.load()) {
            if (s->sync())
                continue;
        }
        if (!m_queue)
            return;
        if (m_queue->size() == 0) {
            if (m_wake)
                m_wake->wait_from(ticket, 5);
            else
                msleep(5);
            if (m_queue->size() == 0)
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

        m_socket->tcp_send(head.data, static_cast<int>(head.length));
        if (m_queue->wait_ack(2000)) {
            CQUEUE_MESSAGE done;
            m_queue->pop(done);
            done.free_data();
        } else if (m_run.load() && !should_stop()) {
            LOG_ERROR("wait ack failed,%s", name);
        }
    }
}
