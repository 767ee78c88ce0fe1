#pragma once
// Builds the thread objects of a channel kind: 1 KM (no threads: the KM
// receive thread is created directly), 2 video, 3 media. Any other kind
// yields no thread. Stateless; one process-wide instance, created on first use.
#include <memory>

#include "tools/socket/mt_queue.h"

class c_tcp_sock;
class c_wake_up;
class c_socket_thread;

enum
{
    SOCKET_KIND_KM = 1,
    SOCKET_KIND_VIDEO = 2,
    SOCKET_KIND_MEDIA = 3
};

class c_socket_factory
{
public:
    static c_socket_factory* instance();
    // Destroys the instance; the next instance() creates a new one.
    static void release();

    // New, not started threads (caller owns them), or null for other kinds.
    c_socket_thread* create_send_thread(int kind, std::shared_ptr<c_tcp_sock> sock,
                                        mt_queue<CQUEUE_MESSAGE>* queue, c_wake_up* wake);
    c_socket_thread* create_recv_thread(int kind, std::shared_ptr<c_tcp_sock> sock,
                                        mt_queue<CQUEUE_MESSAGE>* queue);
};
