#pragma once
// Receive thread of the KM channel: drops frames with a wrong checksum,
// deciphers the body with the inbound frame key when the plain-length field
// (read little-endian) differs from the wire length, and dispatches.
#include "tools/socket/c_socket_thread.h"

class c_socket_recv_km1 : public c_socket_thread
{
    Q_OBJECT
public:
    explicit c_socket_recv_km1(std::shared_ptr<c_tcp_sock> sock);
    ~c_socket_recv_km1() override;

    // Inbound frame key; set by the channel before the thread starts.
    void set_key(const uint8_t* key8);

signals:
    void socket_close();

protected:
    void run() override;
    void emit_close_signal() override;
    void handle_frame(const uint8_t* header, uint8_t* body, uint32_t body_len) override;

private:
    uint8_t m_key[8];
};
