#pragma once
// Send thread of the video channel: drains the queue into the socket; with an
// empty queue it sleeps until a push wakes it (at most 100 ms, to see a stop).
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/mt_queue.h"

class c_wake_up;

class c_socket_send_video : public c_socket_thread
{
    Q_OBJECT
public:
    c_socket_send_video(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake);
    ~c_socket_send_video() override;

    void request_stop() override;

protected:
    void run() override;

private:
    mt_queue<CQUEUE_MESSAGE>* m_queue;
    c_wake_up* m_wake;
};
