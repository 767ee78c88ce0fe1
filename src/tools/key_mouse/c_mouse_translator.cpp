#include "tools/key_mouse/c_mouse_translator.h"

namespace {

unsigned char buttonBit(int button)
{
    switch (button) {
    case c_mouse_translator::BUTTON_LEFT: return 0x01;
    case c_mouse_translator::BUTTON_RIGHT: return 0x02;
    case c_mouse_translator::BUTTON_MIDDLE: return 0x04;
    default: return 0;
    }
}

}  // namespace

void c_mouse_translator::build(int button, int kind, int dx, int dy, int wheel, unsigned char* out, int& outLength)
{
    unsigned char state = m_buttons;
    if (kind == KIND_PRESS)
        state |= buttonBit(button);
    else if (kind == KIND_RELEASE)
        state &= static_cast<unsigned char>(~buttonBit(button));
    m_buttons = state & 0x07;

    // Movement and wheel travel as single signed bytes; callers keep them in range.
    out[0] = m_buttons;
    out[1] = static_cast<unsigned char>(dx);
    out[2] = static_cast<unsigned char>(dy);
    out[3] = static_cast<unsigned char>(wheel);
    outLength = REPORT_SIZE;
}
