#include "c_devsim_keyboard.h"

namespace {

// Unshifted and shifted characters of usages 0x1E..0x38 (US layout); 0 = none.
const char k_plain[] = "1234567890\0\0\0\0 -=[]\\\0;'`,./";
const char k_shift[] = "!@#$%^&*()\0\0\0\0 _+{}|\0:\"~<>?";

enum : uint8_t
{
    U_ENTER = 0x28,
    U_BACKSPACE = 0x2A,
    U_CAPS = 0x39,
    U_SCROLL = 0x47,
    U_NUM = 0x53,
    U_KP_ENTER = 0x58
};

}  // namespace

QChar c_devsim_keyboard::usage_char(uint8_t u, bool shift, bool caps, bool num)
{
    if (u >= 0x04 && u <= 0x1D) {
        const char c = char('a' + (u - 0x04));
        return (shift != caps) ? QChar(QLatin1Char(char(c - 'a' + 'A'))) : QChar(QLatin1Char(c));
    }
    if (u >= 0x1E && u <= 0x38) {
        const char c = (shift ? k_shift : k_plain)[u - 0x1E];
        return c ? QChar(QLatin1Char(c)) : QChar();
    }
    switch (u) {
    case 0x54: return QLatin1Char('/');
    case 0x55: return QLatin1Char('*');
    case 0x56: return QLatin1Char('-');
    case 0x57: return QLatin1Char('+');
    default: break;
    }
    if (num) {
        if (u >= 0x59 && u <= 0x61)
            return QLatin1Char(char('1' + (u - 0x59)));
        if (u == 0x62)
            return QLatin1Char('0');
        if (u == 0x63)
            return QLatin1Char('.');
    }
    return QChar();
}

QString c_devsim_keyboard::usage_name(uint8_t u)
{
    if (u >= 0x04 && u <= 0x1D)
        return QString(QLatin1Char(char('A' + (u - 0x04))));
    if (u >= 0x1E && u <= 0x27)
        return QString(QLatin1Char(k_plain[u - 0x1E]));
    if (u >= 0x3A && u <= 0x45)
        return QStringLiteral("F%1").arg(u - 0x3A + 1);
    if (u >= 0x59 && u <= 0x61)
        return QStringLiteral("Keypad%1").arg(u - 0x59 + 1);
    switch (u) {
    case 0x28: return QStringLiteral("Enter");
    case 0x29: return QStringLiteral("Escape");
    case 0x2A: return QStringLiteral("Backspace");
    case 0x2B: return QStringLiteral("Tab");
    case 0x2C: return QStringLiteral("Space");
    case 0x39: return QStringLiteral("CapsLock");
    case 0x46: return QStringLiteral("PrintScreen");
    case 0x47: return QStringLiteral("ScrollLock");
    case 0x48: return QStringLiteral("Pause");
    case 0x49: return QStringLiteral("Insert");
    case 0x4A: return QStringLiteral("Home");
    case 0x4B: return QStringLiteral("PageUp");
    case 0x4C: return QStringLiteral("Delete");
    case 0x4D: return QStringLiteral("End");
    case 0x4E: return QStringLiteral("PageDown");
    case 0x4F: return QStringLiteral("Right");
    case 0x50: return QStringLiteral("Left");
    case 0x51: return QStringLiteral("Down");
    case 0x52: return QStringLiteral("Up");
    case 0x53: return QStringLiteral("NumLock");
    case 0x54: return QStringLiteral("Keypad/");
    case 0x55: return QStringLiteral("Keypad*");
    case 0x56: return QStringLiteral("Keypad-");
    case 0x57: return QStringLiteral("Keypad+");
    case 0x58: return QStringLiteral("KeypadEnter");
    case 0x62: return QStringLiteral("Keypad0");
    case 0x63: return QStringLiteral("Keypad.");
    case 0x65: return QStringLiteral("Application");
    default: break;
    }
    if (u >= 0x2D && u <= 0x38) {
        const char c = k_plain[u - 0x1E];
        if (c)
            return QString(QLatin1Char(c));
    }
    if (u >= 0xE0 && u <= 0xE7)
        return QStringLiteral("Modifier%1").arg(u - 0xE0);
    return QString();
}

c_devsim_keyboard::result c_devsim_keyboard::apply(const uint8_t report[8])
{
    result r;
    const uint8_t mods = report[0];
    const bool shift = mods & 0x22;
    const bool ctrl = mods & 0x11;
    const bool alt = mods & 0x44;
    const bool gui = mods & 0x88;

    for (int i = 2; i < 8; ++i) {
        const uint8_t u = report[i];
        if (u == 0)
            continue;
        bool held = false;
        for (int j = 2; j < 8; ++j)
            held = held || m_prev[j] == u;
        bool dup = false;
        for (int j = 2; j < i; ++j)
            dup = dup || report[j] == u;
        if (held || dup)
            continue;

        QString name = usage_name(u);
        if (name.isEmpty())
            name = QStringLiteral("0x%1").arg(u, 2, 16, QLatin1Char('0'));
        QString chord;
        if (ctrl)
            chord += QStringLiteral("Ctrl+");
        if (alt)
            chord += QStringLiteral("Alt+");
        if (gui)
            chord += QStringLiteral("Meta+");
        if (shift)
            chord += QStringLiteral("Shift+");
        r.pressed << chord + name;

        if (u == U_CAPS || u == U_NUM || u == U_SCROLL) {
            m_leds ^= (u == U_NUM) ? LED_NUM : (u == U_CAPS) ? LED_CAPS : LED_SCROLL;
            r.locksChanged = true;
            continue;
        }
        QString text;
        const QChar c = usage_char(u, shift, m_leds & LED_CAPS, m_leds & LED_NUM);
        if (!ctrl && !alt && !gui && !c.isNull()) {
            text = c;
        } else if (!ctrl && !alt && !gui && (u == U_ENTER || u == U_KP_ENTER)) {
            text = QStringLiteral("\u23ce");
        } else if (!ctrl && !alt && !gui && u == U_BACKSPACE) {
            m_typed.chop(1);
            continue;
        } else {
            // Chords and keys without a character are shown by name.
            text = QStringLiteral("<") + chord + name + QStringLiteral(">");
        }
        r.text += text;
        m_typed += text;
    }
    if (m_typed.size() > 4096)
        m_typed = m_typed.right(1024);
    for (int i = 0; i < 8; ++i)
        m_prev[i] = report[i];
    return r;
}

bool c_devsim_keyboard::set_leds(uint8_t bits)
{
    bits &= 7;
    const bool changed = bits != m_leds;
    m_leds = bits;
    return changed;
}

QString c_devsim_keyboard::typed(int maxChars) const
{
    return m_typed.right(maxChars);
}

void c_devsim_keyboard::release_all()
{
    for (auto& b : m_prev)
        b = 0;
}
