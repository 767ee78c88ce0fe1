#include "tools/socket/c_socket_recv_video.h"

#include <cstring>

#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_frame.h"

c_socket_recv_video::c_socket_recv_video(std::shared_ptr<c_tcp_sock> sock) : c_socket_thread(std::move(sock))
{
    m_run.store(true);
    std::memset(m_key, 0, sizeof m_key);  // the channel sets its key before start
}

c_socket_recv_video::~c_socket_recv_video()
{
    ensure_stopped();
}

void c_socket_recv_video::set_key(const uint8_t* key8)
{
    std::memcpy(m_key, key8, sizeof m_key);
}

void c_socket_recv_video::run()
{
    run_receive_loop();
}

void c_socket_recv_video::emit_close_signal()
{
    emit signal_socket_video_close();
}

void c_socket_recv_video::on_peer_closed_mid_frame()
{
    m_run.store(false);
}

void c_socket_recv_video::handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len)
{
    uint8_t* start = body;
    uint32_t len = body_len;
    if (!video_frame_prepare(header, &start, &len, m_key))
        return;
    if (c_abs_net_handler* h = handler())
        h->on_net_msg(this, start, frame_plain_len_field(header), len);
}
