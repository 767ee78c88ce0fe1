#include "tools/key_mouse/c_xkb_typist.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include "tools/key_mouse/hid_keycodes.h"
#include "tools/key_mouse/km_messages.h"

namespace {

const uint8_t USAGE_ISO_KEY = 0x64;
const uint8_t USAGE_LEFT_SHIFT = 0xE1;
const uint8_t USAGE_LEFT_ALT = 0xE2;
const uint8_t USAGE_RIGHT_ALT = 0xE6;

template <typename T, void (*Free)(T*)>
struct deleter
{
    void operator()(T* p) const { Free(p); }
};
using context_ptr = std::unique_ptr<xkb_context, deleter<xkb_context, xkb_context_unref> >;
using keymap_ptr = std::unique_ptr<xkb_keymap, deleter<xkb_keymap, xkb_keymap_unref> >;
using state_ptr = std::unique_ptr<xkb_state, deleter<xkb_state, xkb_state_unref> >;
using compose_table_ptr = std::unique_ptr<xkb_compose_table, deleter<xkb_compose_table, xkb_compose_table_unref> >;
using compose_state_ptr = std::unique_ptr<xkb_compose_state, deleter<xkb_compose_state, xkb_compose_state_unref> >;

bool is_dead_keysym(xkb_keysym_t s)
{
    return s >= XKB_KEY_dead_grave && s <= XKB_KEY_dead_greek;
}

// A modifier key the typist may hold: its keycode, report bit and the XKB
// modifiers it sets.
struct modifier_key
{
    xkb_keycode_t keycode = 0;
    uint8_t bit = 0;
    xkb_mod_mask_t mods = 0;
};

// What the compose table of the system's locale makes of a dead key then Space.
char32_t dead_key_then_space(xkb_compose_table* table, xkb_keysym_t dead)
{
    if (!table)
        return 0;
    compose_state_ptr st(xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS));
    if (!st)
        return 0;
    xkb_compose_state_feed(st.get(), dead);
    xkb_compose_state_feed(st.get(), XKB_KEY_space);
    if (xkb_compose_state_get_status(st.get()) != XKB_COMPOSE_COMPOSED)
        return 0;
    return xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(st.get()));
}

}  // namespace

c_xkb_typist::c_xkb_typist(const std::string& layout)
{
    std::string name, variant;
    if (parse_layout(layout, name, variant))
        build(name, variant);
}

c_xkb_typist::~c_xkb_typist() = default;

bool c_xkb_typist::parse_layout(const std::string& text, std::string& layout, std::string& variant)
{
    const auto name_char = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    };
    layout.clear();
    variant.clear();
    size_t i = 0;
    while (i < text.size() && name_char(text[i]))
        layout += text[i++];
    if (layout.empty())
        return false;
    if (i == text.size())
        return true;
    if (text[i] != '(' || text.back() != ')')
        return false;
    for (++i; i + 1 < text.size(); ++i) {
        if (!name_char(text[i]))
            return false;
        variant += text[i];
    }
    return !variant.empty();
}

void c_xkb_typist::build(const std::string& layout, const std::string& variant)
{
    // Only the system's XKB data: no user's ~/.xkb or environment defaults.
    context_ptr ctx(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!ctx)
        return;
    xkb_context_set_log_level(ctx.get(), XKB_LOG_LEVEL_CRITICAL);
    // pc105: the ISO key exists, as German, French or British keyboards need it.
    const xkb_rule_names names = {"evdev", "pc105", layout.c_str(), variant.c_str(), nullptr};
    keymap_ptr keymap(xkb_keymap_new_from_names(ctx.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return;
    // An unknown variant of a known layout can fall back to another; refuse it.
    if (xkb_keymap_num_layouts(keymap.get()) != 1)
        return;

    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap.get());
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap.get());

    // Left Shift, and right Alt when it is not just another Alt (AltGr, the third level).
    modifier_key shift, altgr;
    xkb_mod_mask_t altMods = 0;
    for (xkb_keycode_t kc = first; kc <= last; ++kc) {
        const uint8_t usage = hid_usage_for_x11_keycode(kc);
        if (usage != USAGE_LEFT_SHIFT && usage != USAGE_RIGHT_ALT && usage != USAGE_LEFT_ALT)
            continue;
        state_ptr st(xkb_state_new(keymap.get()));
        xkb_state_update_key(st.get(), kc, XKB_KEY_DOWN);
        const xkb_mod_mask_t mods = xkb_state_serialize_mods(st.get(), XKB_STATE_MODS_DEPRESSED);
        if (usage == USAGE_LEFT_SHIFT)
            shift = {kc, hid_modifier_bit(usage), mods};
        else if (usage == USAGE_RIGHT_ALT)
            altgr = {kc, hid_modifier_bit(usage), mods};
        else
            altMods = mods;
    }
    std::vector<std::vector<modifier_key> > combos = {{}};
    if (shift.mods)
        combos.push_back({shift});
    if (altgr.mods && altgr.mods != altMods) {
        combos.push_back({altgr});
        if (shift.mods)
            combos.push_back({shift, altgr});
    }

    // Fewest modifiers first; the ISO key only for what no other key types,
    // since a US keyboard has none and sends Shift+comma for '<'.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& combo : combos) {
            state_ptr st(xkb_state_new(keymap.get()));
            uint8_t bits = 0;
            for (const modifier_key& m : combo) {
                xkb_state_update_key(st.get(), m.keycode, XKB_KEY_DOWN);
                bits |= m.bit;
            }
            for (xkb_keycode_t kc = first; kc <= last; ++kc) {
                const uint8_t usage = hid_usage_for_x11_keycode(kc);
                if (usage == 0 || hid_modifier_bit(usage) || (usage == USAGE_ISO_KEY) != (pass == 1))
                    continue;
                const std::vector<hid_stroke> stroke = {{bits, usage}};
                const xkb_keysym_t sym = xkb_state_key_get_one_sym(st.get(), kc);
                if (sym != XKB_KEY_NoSymbol)
                    m_byKeysym.emplace(sym, stroke);
                const char32_t c = xkb_state_key_get_utf32(st.get(), kc);
                if (c != 0)
                    m_byChar.emplace(c, stroke);
            }
        }
    }

    // A character the layout has only on a dead key: the dead key, then Space.
    compose_table_ptr compose(xkb_compose_table_new_from_locale(ctx.get(), "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS));
    if (!compose)
        compose.reset(xkb_compose_table_new_from_locale(ctx.get(), "C", XKB_COMPOSE_COMPILE_NO_FLAGS));
    const auto space = m_byKeysym.find(XKB_KEY_space);
    if (compose && space != m_byKeysym.end()) {
        std::map<char32_t, std::vector<hid_stroke> > dead;
        for (const auto& [sym, stroke] : m_byKeysym) {
            if (!is_dead_keysym(sym))
                continue;
            const char32_t c = dead_key_then_space(compose.get(), sym);
            if (c != 0 && !m_byKeysym.count(xkb_utf32_to_keysym(c)) && !dead.count(c))
                dead[c] = {stroke.front(), space->second.front()};
        }
        for (const auto& [c, strokes] : dead)
            m_byChar[c] = strokes;
    }
    m_valid = true;
}

std::vector<hid_stroke> c_xkb_typist::strokes(char32_t c) const
{
    if (!m_valid)
        return {};
    xkb_keysym_t sym = XKB_KEY_NoSymbol;
    if (c == U'\n' || c == U'\r')
        sym = XKB_KEY_Return;
    else if (c == U'\t')
        sym = XKB_KEY_Tab;
    else if (c >= 0x20 && c != 0x7F)
        sym = xkb_utf32_to_keysym(c);
    if (sym == XKB_KEY_NoSymbol)
        return {};
    const auto bySym = m_byKeysym.find(sym);
    if (bySym != m_byKeysym.end())
        return bySym->second;
    // Keys whose keysym differs but that type the same character, and dead keys.
    if (c >= 0x20) {
        const auto byChar = m_byChar.find(c);
        if (byChar != m_byChar.end())
            return byChar->second;
    }
    return {};
}

std::vector<c_xkb_typist::report> c_xkb_typist::reports(const std::u32string& text, int& skipped) const
{
    std::vector<report> out;
    skipped = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n')
            continue;  // the '\n' gives the Enter
        const std::vector<hid_stroke> s = strokes(text[i]);
        if (s.empty()) {
            ++skipped;
            continue;
        }
        for (const hid_stroke& k : s) {
            out.push_back({k.modifiers, 0, km_report_usage(k.usage), 0, 0, 0, 0, 0});
            out.push_back({});
        }
    }
    return out;
}
