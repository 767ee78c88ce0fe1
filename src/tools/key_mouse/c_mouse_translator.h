#pragma once
// Builds relative-mode mouse reports (KM message type 5) and keeps the button
// state between them, so a move carries the buttons still held.
class c_mouse_translator
{
public:
    enum { REPORT_SIZE = 4 };

    // Qt event type numbers accepted as kind.
    enum { KIND_PRESS = 2, KIND_RELEASE = 3, KIND_MOVE = 5 };

    // Qt button numbers.
    enum { BUTTON_LEFT = 1, BUTTON_RIGHT = 2, BUTTON_MIDDLE = 4 };

    c_mouse_translator() = default;

    // Applies a press or release of button to the held state (other kinds and
    // buttons leave it alone) and writes buttons, dx, dy and wheel into out.
    void build(int button, int kind, int dx, int dy, int wheel, unsigned char* out, int& outLength);

    // Bit 0 left, bit 1 right, bit 2 middle.
    unsigned char buttons() const { return m_buttons; }

private:
    unsigned char m_buttons = 0;
};
