#pragma once
// Receive thread of the video channel. A frame whose two length fields differ
// has its first 16 body bytes deciphered with the inbound frame key; the
// handler gets the body from byte 4 on, 4 bytes shorter.
#include "tools/socket/c_socket_thread.h"

class c_socket_recv_video : public c_socket_thread
{
    Q_OBJECT
public:
    explicit c_socket_recv_video(std::shared_ptr<c_tcp_sock> sock);
    ~c_socket_recv_video() override;

    // Inbound frame key; set by the channel before the thread starts.
    void set_key(const uint8_t* key8);

signals:
    void signal_socket_video_close();

protected:
    void run() override;
    void emit_close_signal() override;
    void handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len) override;
    void on_peer_closed_mid_frame() override;

private:
    uint8_t m_key[8];
};
