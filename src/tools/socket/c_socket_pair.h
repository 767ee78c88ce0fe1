#pragma once
// One channel's two threads. Created, not started. stop() closes the channel's
// socket first (so a receive blocked mid-frame returns), clears both run flags
// and waits for the threads; destruction stops and deletes them, never while
// one still runs. After stop() the owner drains its queue (drain_and_free).
#include <QThread>
#include <memory>

#include "tools/socket/c_socket_factory.h"
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/mt_queue.h"

class c_socket_pair
{
public:
    c_socket_pair(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake, int kind);
    ~c_socket_pair();

    c_socket_pair(const c_socket_pair&) = delete;
    c_socket_pair& operator=(const c_socket_pair&) = delete;

    // Starts the send thread, then the receive thread. Video: InheritPriority
    // for both; media: HighestPriority for both.
    void start(QThread::Priority send_priority, QThread::Priority recv_priority);
    // Returns once both threads have ended (at once when they already have).
    void stop();

    // Null for a kind without threads. Cast to the concrete class to reach
    // the close signals. Owned by the pair, which joins them before deleting.
    c_socket_thread* send_thread() const { return m_send.get(); }
    c_socket_thread* recv_thread() const { return m_recv.get(); }

private:
    std::unique_ptr<c_socket_thread> m_send;
    std::unique_ptr<c_socket_thread> m_recv;
};
