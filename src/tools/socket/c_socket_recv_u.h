#pragma once
// Receive thread of the media channel: dispatches every frame, then
// acknowledges the head of the send queue (4 when the handler returned 5,
// else 2).
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/mt_queue.h"

class c_socket_recv_u : public c_socket_thread
{
    Q_OBJECT
public:
    c_socket_recv_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* send_queue);
    ~c_socket_recv_u() override;

signals:
    void signal_socket_u_close();

protected:
    void run() override;
    void emit_close_signal() override;
    void handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len) override;

private:
    mt_queue<CQUEUE_MESSAGE>* m_send_queue;
};
