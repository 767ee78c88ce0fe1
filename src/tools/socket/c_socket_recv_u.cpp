#include "tools/socket/c_socket_recv_u.h"

#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_frame.h"

c_socket_recv_u::c_socket_recv_u(std::shared_ptr<c_tcp_sock> sock, mt_queue<CQUEUE_MESSAGE>* send_queue)
    : c_socket_thread(std::move(sock)), m_send_queue(send_queue)
{
    m_run.store(true);
}

c_socket_recv_u::~c_socket_recv_u()
{
    ensure_stopped();
}

void c_socket_recv_u::run()
{
    // Every message sent waits for the device's answer: that answer is
    // looked for before the thread sleeps.
    run_receive_loop(true);
}

void c_socket_recv_u::emit_close_signal()
{
    emit signal_socket_u_close();
}

void c_socket_recv_u::handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len)
{
    unsigned char result = 0;
    if (c_abs_net_handler* h = handler())
        result = h->on_net_msg(this, body, frame_plain_len_field(header), body_len);
    // Every device message answers the message in flight: 5 refuses it.
    if (m_send_queue && m_send_queue->size() > 0)
        m_send_queue->set_ack(result == 5 ? 4u : 2u);
}
