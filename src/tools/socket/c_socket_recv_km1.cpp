#include "tools/socket/c_socket_recv_km1.h"

#include <cstring>

#include "log/log.h"
#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_frame.h"

c_socket_recv_km1::c_socket_recv_km1(std::shared_ptr<c_tcp_sock> sock) : c_socket_thread(std::move(sock))
{
    m_run.store(true);
    std::memset(m_key, 0, sizeof m_key);  // the channel sets its key before start
}

c_socket_recv_km1::~c_socket_recv_km1()
{
    ensure_stopped();
}

void c_socket_recv_km1::set_key(const uint8_t* key8)
{
    std::memcpy(m_key, key8, sizeof m_key);
}

void c_socket_recv_km1::run()
{
    run_receive_loop();
}

void c_socket_recv_km1::emit_close_signal()
{
    emit socket_close();
}

void c_socket_recv_km1::handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len)
{
    uint32_t len = body_len;
    if (!km_frame_check(header, body, &len, m_key)) {
        // Dropped; kept out of the normal levels, where a wrong checksum goes unmentioned.
        LOG_DEBUG("KM frame of %u bytes with a wrong checksum dropped", body_len);
        return;
    }
    if (c_abs_net_handler* h = handler())
        h->on_net_msg(this, body, frame_plain_len_field(header), len);
}
