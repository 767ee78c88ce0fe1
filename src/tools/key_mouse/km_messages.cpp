#include "tools/key_mouse/km_messages.h"

std::array<unsigned char, KM_MOUSE_ABS_LEN> km_mouse_abs_payload(int buttons, int16_t x, int16_t y, int wheel)
{
    const auto ux = static_cast<uint16_t>(x);
    const auto uy = static_cast<uint16_t>(y);
    return {static_cast<unsigned char>(buttons),
            static_cast<unsigned char>(ux & 0xFF),
            static_cast<unsigned char>(ux >> 8),
            static_cast<unsigned char>(uy & 0xFF),
            static_cast<unsigned char>(uy >> 8),
            static_cast<unsigned char>(static_cast<int8_t>(wheel))};
}

std::array<unsigned char, KM_USERID_LEN> km_userid_payload(uint32_t userID)
{
    return {static_cast<unsigned char>(userID >> 24),
            static_cast<unsigned char>(userID >> 16),
            static_cast<unsigned char>(userID >> 8),
            static_cast<unsigned char>(userID)};
}

std::string km_report_text(const unsigned char* bytes, int length)
{
    std::string text;
    for (int i = 0; i < length; ++i) {
        if (i > 0)
            text += ',';
        text += std::to_string(static_cast<unsigned>(bytes[i]));
    }
    return text;
}
