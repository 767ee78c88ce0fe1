#include "tools/socket/c_socket_pair.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

c_socket_pair::c_socket_pair(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake,
                             int kind)
{
    c_socket_factory* f = c_socket_factory::instance();
    if (c_socket_thread* s = f->create_send_thread(kind, sock, queue, wake)) {
        m_send.reset(s);
        // Producers wake the send thread when they queue, instead of leaving
        // the message to its next poll.
        if (queue)
            queue->set_waker(wake);
    }
    if (c_socket_thread* r = f->create_recv_thread(kind, sock, queue))
        m_recv.reset(r);
}

c_socket_pair::~c_socket_pair()
{
    stop();
    m_send.reset();
    m_recv.reset();
    c_socket_factory::release();
}

void c_socket_pair::start(QThread::Priority send_priority, QThread::Priority recv_priority)
{
    if (m_send)
        m_send->start(send_priority);
    if (m_recv)
        m_recv->start(recv_priority);
}

void c_socket_pair::stop()
{
    // Ask both to stop, then close: a receive blocked inside a frame returns
    // at once, and both threads see the invalid handle. In this order a
    // thread that sees the closed socket already knows it was stopped, not
    // cut off. Both are asked before either is waited for, so the two waits
    // overlap.
    for (const auto* t : {&m_send, &m_recv}) {
        if (*t)
            (*t)->request_stop();
    }
    for (const auto* t : {&m_send, &m_recv}) {
        if (*t && (*t)->socket())
            (*t)->socket()->close();
    }
    // Neither thread runs an event loop: waiting is the whole join. Both
    // leave their loops within one wait slice of seeing the closed socket.
    for (const auto* t : {&m_send, &m_recv}) {
        if (*t)
            (*t)->wait();
    }
}
