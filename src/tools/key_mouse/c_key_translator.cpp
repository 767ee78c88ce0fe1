#include "tools/key_mouse/c_key_translator.h"

#include <cstring>

#include "log/log.h"
#include "tools/key_mouse/hid_keycodes.h"
#include "tools/key_mouse/km_messages.h"

namespace {

// Qt key codes used by value below.
enum : int32_t
{
    kKeyEscape = 0x01000000,
    kKeyTab = 0x01000001,
    kKeyBackspace = 0x01000003,
    kKeyReturn = 0x01000004,
    kKeyEnter = 0x01000005,
    kKeyInsert = 0x01000006,
    kKeyDelete = 0x01000007,
    kKeyHome = 0x01000010,
    kKeyEnd = 0x01000011,
    kKeyLeft = 0x01000012,
    kKeyUp = 0x01000013,
    kKeyRight = 0x01000014,
    kKeyDown = 0x01000015,
    kKeyPageUp = 0x01000016,
    kKeyPageDown = 0x01000017,
    kKeyShift = 0x01000020,
    kKeyControl = 0x01000021,
    kKeyMeta = 0x01000022,
    kKeyAlt = 0x01000023,
    kKeyCapsLock = 0x01000024,
    kKeyNumLock = 0x01000025,
    kKeyScrollLock = 0x01000026,
    kKeyF1 = 0x01000030,
    kKeyMenu = 0x01000055,
    kKeyPrintScreen = 0x010000BA,  // stands for Print Screen in stored sequences
    kKeyBackslash = 0x5C,
};

const int kDirectSize = 224;

// Direct table: Qt key codes 0..223 (Latin-1 characters and a few legacy
// virtual-key values) to HID usages; 0 means no usage. Shifted characters
// share the usage of their unshifted key, Shift travels in byte 0.
struct DirectTable
{
    unsigned char usage[kDirectSize];

    DirectTable() : usage()
    {
        auto fill = [this](int first, std::initializer_list<unsigned char> values) {
            int k = first;
            for (unsigned char v : values)
                usage[k++] = v;
        };
        usage[0x08] = 0x2A;
        usage[0x09] = 0x2B;
        usage[0x0D] = 0x28;
        fill(0x10, {0x02, 0xE0, 0xE2, 0x48, 0x39});
        usage[0x1B] = 0x29;
        usage[0x20] = 0x2C;
        fill(0x21, {0x1E, 0x34, 0x20, 0x21, 0x22, 0x24, 0x34, 0x26, 0x27});  // ! " # $ % & ' ( )
        fill(0x2A, {0x55, 0x57, 0x36, 0x2D, 0x37, 0x38});                    // * + , - . /
        usage[0x30] = 0x27;                                                  // 0
        for (int i = 0; i < 9; ++i)
            usage[0x31 + i] = static_cast<unsigned char>(0x1E + i);          // 1..9
        fill(0x3A, {0x33, 0x33, 0x36, 0x2E, 0x37, 0x38, 0x1F});              // : ; < = > ? @
        for (int i = 0; i < 26; ++i)
            usage[0x41 + i] = static_cast<unsigned char>(0x04 + i);          // A..Z
        fill(0x5B, {0x2F, 0xE7, 0x30, 0x23, 0x2D, 0x35});                    // [ \ ] ^ _ `
        for (int i = 0; i < 9; ++i)
            usage[0x61 + i] = static_cast<unsigned char>(0x59 + i);          // keypad 1..9
        usage[0x6A] = 0x55;
        usage[0x6B] = 0x57;
        usage[0x6D] = 0x56;
        usage[0x6E] = 0x63;
        usage[0x6F] = 0x54;
        for (int i = 0; i < 11; ++i)
            usage[0x70 + i] = static_cast<unsigned char>(0x3A + i);          // F1..F11
        fill(0x7B, {0x2F, 0x31, 0x30, 0x35, 0x4C});                          // { | } ~ delete
        usage[0x90] = 0x53;
        usage[0x91] = 0x47;
        fill(0xBA, {0x33, 0x2E, 0x36, 0x2D, 0x37, 0x38, 0x35});
        fill(0xDB, {0x2F, 0x31, 0x30, 0x34});
    }
};

const DirectTable& directTable()
{
    static const DirectTable table;
    return table;
}

}  // namespace

c_key_translator::c_key_translator()
{
    reset();
    for (int i = 0; i < 12; ++i)
        specialKeys[kKeyF1 + i] = static_cast<unsigned char>(0x3A + i);
    specialKeys[kKeyCapsLock] = 0x39;
    specialKeys[kKeyControl] = 0x01;
    specialKeys[kKeyShift] = 0x02;
    specialKeys[kKeyAlt] = 0x04;
    specialKeys[kKeyMeta] = 0x08;
    specialKeys[kKeyInsert] = 0x49;
    specialKeys[kKeyDelete] = 0x4C;
    specialKeys[kKeyHome] = 0x4A;
    specialKeys[kKeyEnd] = 0x4D;
    specialKeys[kKeyPageUp] = 0x4B;
    specialKeys[kKeyPageDown] = 0x4E;
    specialKeys[kKeyLeft] = 0x50;
    specialKeys[kKeyRight] = 0x4F;
    specialKeys[kKeyUp] = 0x52;
    specialKeys[kKeyDown] = 0x51;
    specialKeys[kKeyNumLock] = 0x53;
    specialKeys[kKeyScrollLock] = 0x47;
    specialKeys[kKeyBackslash] = 0x31;  // the table's 0xE7 is not what a backslash key sends
    specialKeys[kKeyEscape] = 0x29;
    specialKeys[kKeyBackspace] = 0x2A;
    // The device expects keypad Enter for both.
    specialKeys[kKeyReturn] = KM_USAGE_KEYPAD_ENTER;
    specialKeys[kKeyEnter] = KM_USAGE_KEYPAD_ENTER;
    specialKeys[kKeyMenu] = 0x65;
    specialKeys[kKeyTab] = 0x2B;
    specialKeys[kKeyPrintScreen] = 0x46;
}

bool c_key_translator::isModifier(int keyCode)
{
    return keyCode >= kKeyShift && keyCode <= kKeyAlt;
}

bool c_key_translator::lookup(int keyCode, unsigned char& code, bool logUnknown) const
{
    auto it = specialKeys.find(keyCode);
    if (it != specialKeys.end()) {
        code = it->second;
        return true;
    }
    if (keyCode < kDirectSize) {
        // Negative codes never come from Qt; they must not index the table.
        code = keyCode >= 0 ? directTable().usage[keyCode] : 0;
        return true;
    }
    if (logUnknown)
        LOG_ERROR("pSpecialKey==specialKeys.end() %d", keyCode);
    return false;
}

void c_key_translator::reset()
{
    std::memset(m_report, 0, sizeof m_report);
    m_heldModifiers = 0;
    m_shiftUsage = 0;
    m_byPhysicalKey.clear();
}

int c_key_translator::shiftFor(int keyCode)
{
    // Where the character sits on a US keyboard: these need Shift there,
    // digits and the other punctuation must not have it. Letters (and
    // everything else) follow the Shift the user holds.
    static const char shifted[] = "~!@#$%^&*()_+{}|:\"<>?";
    static const char plain[] = "`1234567890-=[]\\;',./ ";
    if (keyCode <= 0 || keyCode >= 0x7F)
        return -1;
    if (std::strchr(shifted, keyCode))
        return 1;
    if (std::strchr(plain, keyCode))
        return 0;
    return -1;
}

void c_key_translator::applyModifiers()
{
    unsigned char m = m_heldModifiers;
    if (m_shiftUsage) {
        m &= static_cast<unsigned char>(~(kLeftShift | kRightShift));
        if (m_shiftWanted)
            m |= kLeftShift;
    }
    m_report[0] = m;
}

bool c_key_translator::translate(int keyCode, bool pressed, unsigned char* out, int& outLength,
                                 uint32_t physicalKey)
{
    unsigned char code = 0;
    // A release lets go of what the same key's press sent: with other
    // modifiers now, the key may stand for another character.
    const auto held = physicalKey && !pressed ? m_byPhysicalKey.find(physicalKey) : m_byPhysicalKey.end();
    if (held != m_byPhysicalKey.end()) {
        code = held->second;
        m_byPhysicalKey.erase(held);
    } else if (!lookup(keyCode, code, true) || code == 0) {
        return false;
    }

    if (isModifier(keyCode)) {
        if (pressed)
            m_heldModifiers |= code;
        else
            m_heldModifiers &= static_cast<unsigned char>(~code);
    } else {
        if (pressed) {
            if (physicalKey)
                m_byPhysicalKey[physicalKey] = code;
            // The character's own Shift (or its absence) rides with it
            // until its key is let go; then the held modifiers return.
            const int shift = shiftFor(keyCode);
            if (shift >= 0) {
                m_shiftUsage = code;
                m_shiftWanted = shift == 1;
            } else {
                m_shiftUsage = 0;
            }
        } else if (code == m_shiftUsage) {
            m_shiftUsage = 0;
        }
        updateKey(code, pressed);
    }
    applyModifiers();
    std::memcpy(out, m_report, REPORT_SIZE);
    outLength = REPORT_SIZE;
    return true;
}

bool c_key_translator::translateUsage(uint8_t usage, bool pressed, unsigned char* out, int& outLength)
{
    if (usage == 0)
        return false;
    usage = km_report_usage(usage);
    const uint8_t bit = hid_modifier_bit(usage);
    if (bit) {
        if (pressed)
            m_heldModifiers |= bit;
        else
            m_heldModifiers &= static_cast<unsigned char>(~bit);
    } else {
        updateKey(usage, pressed);
    }
    applyModifiers();
    std::memcpy(out, m_report, REPORT_SIZE);
    outLength = REPORT_SIZE;
    return true;
}

void c_key_translator::updateKey(unsigned char code, bool pressed)
{
    int i = 2;
    while (i < REPORT_SIZE && m_report[i] != 0 && m_report[i] != code)
        ++i;
    if (pressed) {
        // A seventh held key finds no free byte and is not recorded.
        if (i < REPORT_SIZE && m_report[i] == 0)
            m_report[i] = code;
    } else if (i < REPORT_SIZE && m_report[i] == code) {
        std::memmove(m_report + i, m_report + i + 1, REPORT_SIZE - 1 - i);
        m_report[REPORT_SIZE - 1] = 0;
    }
}

void c_key_translator::sequenceReport(const std::vector<int>& keyCodes, unsigned char* out) const
{
    std::memset(out, 0, REPORT_SIZE);
    for (int k : keyCodes) {
        unsigned char code = 0;
        if (!lookup(k, code, false))
            code = 0;
        if (isModifier(k))
            out[0] |= code;
        else
            out[2] = code;
    }
}
