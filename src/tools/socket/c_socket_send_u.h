#pragma once
// Send thread of the media channel: each pass first lets the syncer flush one
// KM message, then sends the queue head and waits up to 2000 ms for its
// acknowledgement; an unacknowledged head is sent again.
#include <mutex>

#include "tools/socket/c_net_syncer.h"
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/mt_queue.h"

class c_wake_up;

class c_socket_send_u : public c_socket_thread
{
    Q_OBJECT
public:
    c_socket_send_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake);
    ~c_socket_send_u() override;

    // Null until the main window attaches itself; not owned. The syncer
    // gets this thread's wake-up object until it is replaced or the thread stops.
    void set_syncer(c_net_syncer* syncer);
    c_net_syncer* syncer() const { return m_syncer.load(); }

    void request_stop() override;

protected:
    void run() override;

private:
    void send_loop();

    mt_queue<CQUEUE_MESSAGE>* m_queue;
    c_wake_up* m_wake;
    std::atomic<c_net_syncer*> m_syncer{nullptr};
    std::shared_ptr<c_sync_wake> m_sync_wake;  // lent to the syncer
    std::mutex m_lost_lock;
    bool m_lost = false;  // ended with its channel rather than stopped
};
