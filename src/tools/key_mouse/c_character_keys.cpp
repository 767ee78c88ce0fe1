#include "tools/key_mouse/c_character_keys.h"

namespace {

const uint8_t FIRST_MODIFIER_USAGE = 0xE0;

}  // namespace

c_character_keys::c_character_keys(const std::string& remoteLayout)
    : m_layout(remoteLayout), m_typist(new c_xkb_typist(remoteLayout))
{
}

bool c_character_keys::press(c_key_translator& keys, char32_t c, unsigned char* out)
{
    if (!m_typist->valid())
        return false;
    const std::vector<hid_stroke> strokes = m_typist->strokes(c);
    if (strokes.size() != 1 || strokes.front().usage == 0)
        return false;
    const hid_stroke s = strokes.front();
    int length = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (s.modifiers & (1u << bit))
            keys.translateUsage(uint8_t(FIRST_MODIFIER_USAGE + bit), true, out, length);
    keys.translateUsage(s.usage, true, out, length);
    m_held[c] = s;
    return true;
}

bool c_character_keys::release(c_key_translator& keys, char32_t c, unsigned char* out)
{
    const auto it = m_held.find(c);
    if (it == m_held.end())
        return false;
    const hid_stroke s = it->second;
    m_held.erase(it);
    int length = 0;
    keys.translateUsage(s.usage, false, out, length);
    for (int bit = 0; bit < 8; ++bit)
        if (s.modifiers & (1u << bit))
            keys.translateUsage(uint8_t(FIRST_MODIFIER_USAGE + bit), false, out, length);
    return true;
}

bool c_character_keys::press_key(c_key_translator& keys, int keyCode, uint8_t modifierBits, unsigned char* out)
{
    int length = 0;
    unsigned char probe[c_key_translator::REPORT_SIZE];
    c_key_translator scratch;
    if (!scratch.translate(keyCode, true, probe, length))
        return false;
    // Left or right held already counts as held.
    const uint8_t held = keys.report()[0];
    uint8_t added = 0;
    for (int bit = 0; bit < 4; ++bit) {
        const uint8_t want = uint8_t(1u << bit);
        if ((modifierBits & want) && !(held & (want | uint8_t(want << 4)))) {
            keys.translateUsage(uint8_t(FIRST_MODIFIER_USAGE + bit), true, out, length);
            added |= want;
        }
    }
    keys.translate(keyCode, true, out, length);
    m_keyModifiers[keyCode] = added;
    return true;
}

bool c_character_keys::release_key(c_key_translator& keys, int keyCode, unsigned char* out)
{
    int length = 0;
    if (!keys.translate(keyCode, false, out, length))
        return false;
    const auto it = m_keyModifiers.find(keyCode);
    if (it != m_keyModifiers.end()) {
        for (int bit = 0; bit < 4; ++bit)
            if (it->second & (1u << bit))
                keys.translateUsage(uint8_t(FIRST_MODIFIER_USAGE + bit), false, out, length);
        m_keyModifiers.erase(it);
    }
    return true;
}
