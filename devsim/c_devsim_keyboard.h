#pragma once
// The remote computer's keyboard as the device sees it: successive 8-byte
// HID boot reports (byte 0 modifiers, bytes 2..7 held usages) turned back
// into key presses, characters (US layout, Shift and Caps Lock applied) and
// lock states. Not thread-safe; the device guards it.
#include <QString>
#include <QStringList>

#include <cstdint>

class c_devsim_keyboard
{
public:
    // LED bits as the video channel reports them.
    enum : uint8_t { LED_NUM = 1, LED_CAPS = 2, LED_SCROLL = 4 };

    struct result
    {
        QStringList pressed;  // names of newly pressed keys ("A", "Shift+1", "Enter")
        QString text;         // what they typed ("A", "!", "<Ctrl+Alt+Delete>")
        bool locksChanged = false;
    };

    // Takes the next report; keys present now and absent before are presses.
    result apply(const uint8_t report[8]);

    uint8_t leds() const { return m_leds; }
    // Sets the lock state from outside (the "led" command); true when it changed.
    bool set_leds(uint8_t bits);

    // The last typed text (at most maxChars characters, newest last).
    QString typed(int maxChars = 64) const;
    uint8_t modifiers() const { return m_prev[0]; }
    // The report now in force (the last one applied).
    const uint8_t* held() const { return m_prev; }
    void clear_typed() { m_typed.clear(); }
    // Forgets the held keys (a new client starts with nothing held).
    void release_all();

    // Name of a usage for display ("A", "F5", "Delete"); empty when unknown.
    static QString usage_name(uint8_t usage);
    // Character of a usage with Shift (and for letters Caps Lock) applied; null when none.
    static QChar usage_char(uint8_t usage, bool shift, bool caps, bool num);

private:
    uint8_t m_prev[8] = {};
    uint8_t m_leds = 0;
    QString m_typed;
};
