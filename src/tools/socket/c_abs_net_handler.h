#pragma once
// Receiver of complete frames, called on the receive thread. The body is only
// valid until the call returns.
class c_abs_net_handler
{
public:
    virtual ~c_abs_net_handler() = default;

    // sender: the receive thread object (one handler may serve several threads).
    // plain_len_field: the header's plain-length bytes read little-endian as
    // they stand. body_len: body length after any deciphering.
    // Returns a status byte: 0 handled, 3 rejected for a bad length; on the
    // media channel 5 refuses the message in flight.
    virtual unsigned char on_net_msg(const void* sender, const unsigned char* body,
                                     unsigned int plain_len_field, unsigned int body_len) = 0;
};
