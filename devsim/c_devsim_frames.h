#pragma once
// Frames the device sends, built on the shared framing and cipher code.
#include <cstdint>
#include <vector>

class c_devsim_frames
{
public:
    // A frame whose body travels in clear (both lengths = body length).
    static std::vector<uint8_t> clear(const uint8_t* body, uint32_t len);
    static std::vector<uint8_t> clear(std::initializer_list<uint8_t> body);

    // A KM frame from the device, enciphered with the key the viewer
    // deciphers with (desEncode), type 50 in clear.
    static std::vector<uint8_t> km_enciphered(const uint8_t* body, uint32_t len, const uint8_t* key8);

    // Whether the viewer gets an enciphered body back whole: its deciphering
    // strips trailing 0x00 and 0x80 bytes, so a body ending in one of them
    // would lose its value byte.
    static bool survives_padding_strip(const uint8_t* body, uint32_t len);

    // One type-6 video message: flag 1 ends an access unit. With key8, the
    // first 12 body bytes (type, flag, 6 free bytes, payload length) are
    // enciphered into 16 and the plain length is 12 + len while the wire
    // length is 16 + len; without, the body goes in clear. The free bytes
    // carry the picture number (u32) and the fragment index (u16).
    static std::vector<uint8_t> video(uint8_t flag, uint32_t picture, uint16_t fragment, const uint8_t* payload,
                                      uint32_t len, const uint8_t* key8);
    // The same with any payload length field (faults: a message that claims
    // more payload than it carries); the frame lengths follow len.
    static std::vector<uint8_t> video_claiming(uint8_t flag, uint32_t picture, uint16_t fragment,
                                               const uint8_t* payload, uint32_t len, uint32_t claimed,
                                               const uint8_t* key8);
};
