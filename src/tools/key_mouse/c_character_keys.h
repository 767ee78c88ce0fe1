#pragma once
// Keys that come as characters, not places: those of virtual keyboards
// (on-screen keyboards, wtype) whose own keymap gives no keyboard positions.
// Each character is pressed on the remote computer with the key and the
// modifiers that type it there (its layout's XKB data), so "H" and "!"
// arrive with Shift although no Shift key was pressed locally. Widget-free.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_xkb_typist.h"

class c_character_keys
{
public:
    explicit c_character_keys(const std::string& remoteLayout);

    const std::string& layout() const { return m_layout; }

    // The report after pressing (or releasing) the keys that type c; false,
    // touching nothing, when the layout types c with no single key.
    bool press(c_key_translator& keys, char32_t c, unsigned char* out);
    bool release(c_key_translator& keys, char32_t c, unsigned char* out);

    // Other keys of such keyboards (Tab, F-keys, Ctrl+C) by key code. Their
    // modifiers may come only as state, without key events of their own:
    // those of modifierBits (report byte 0, left keys) not held yet are
    // pressed with the key and released with it. False for keys without usage.
    bool press_key(c_key_translator& keys, int keyCode, uint8_t modifierBits, unsigned char* out);
    bool release_key(c_key_translator& keys, int keyCode, unsigned char* out);

private:
    std::string m_layout;
    std::unique_ptr<c_xkb_typist> m_typist;
    std::map<char32_t, hid_stroke> m_held;  // pressed characters and their strokes
    std::map<int, uint8_t> m_keyModifiers;  // pressed keys and the modifiers added for them
};
