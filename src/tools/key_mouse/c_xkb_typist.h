#pragma once
// Text to keystrokes for a remote computer with a given keyboard layout: each
// character becomes the physical key (HID usage) and the modifiers that type
// it there, found in the system's XKB data with libxkbcommon. Widget-free.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct hid_stroke
{
    uint8_t modifiers = 0;  // report byte 0
    uint8_t usage = 0;

    bool operator==(const hid_stroke& o) const { return modifiers == o.modifiers && usage == o.usage; }
};

class c_xkb_typist
{
public:
    using report = std::array<uint8_t, 8>;

    // layout: an XKB layout name with an optional variant in parentheses,
    // "us", "de", "de(nodeadkeys)". An unknown one leaves the typist invalid.
    explicit c_xkb_typist(const std::string& layout);
    ~c_xkb_typist();
    c_xkb_typist(const c_xkb_typist&) = delete;
    c_xkb_typist& operator=(const c_xkb_typist&) = delete;

    bool valid() const { return m_valid; }

    // The keystrokes that type c: one, or a dead key and Space when the layout
    // has the character only that way. Empty when it cannot be typed.
    // '\n' and '\r' give Enter, '\t' Tab.
    std::vector<hid_stroke> strokes(char32_t c) const;

    // Press and release reports for the whole text, in order ("\r\n" is one
    // Enter). skipped counts the characters the layout cannot type.
    std::vector<report> reports(const std::u32string& text, int& skipped) const;

    // Splits "de(nodeadkeys)" into "de" and "nodeadkeys". False for text that
    // is no layout name (empty, stray parentheses or characters XKB names never use).
    static bool parse_layout(const std::string& text, std::string& layout, std::string& variant);

private:
    void build(const std::string& layout, const std::string& variant);

    bool m_valid = false;
    std::map<uint32_t, std::vector<hid_stroke> > m_byKeysym;
    std::map<char32_t, std::vector<hid_stroke> > m_byChar;
};
