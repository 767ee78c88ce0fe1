// Pasted text to keystrokes with the system's XKB data, and the physical key
// table checked against that data.
#include <gtest/gtest.h>

#include <xkbcommon/xkbcommon.h>

#include <set>
#include <string>

#include "tools/key_mouse/c_xkb_typist.h"
#include "tools/key_mouse/hid_keycodes.h"

namespace {

const uint8_t SHIFT = 0x02;     // left Shift
const uint8_t ALTGR = 0x40;     // right Alt
using strokes = std::vector<hid_stroke>;

strokes one(uint8_t mods, uint8_t usage)
{
    return {hid_stroke{mods, usage}};
}

}  // namespace

TEST(XkbTypist, UsLayoutTypesTheTextAsPressAndReleaseReports)
{
    const c_xkb_typist us("us");
    ASSERT_TRUE(us.valid());
    int skipped = -1;
    const auto reports = us.reports(U"Hi, 4!\r\n\t", skipped);
    EXPECT_EQ(skipped, 0);
    const std::vector<c_xkb_typist::report> expected = {
        {SHIFT, 0, 0x0B}, {}, {0, 0, 0x0C}, {}, {0, 0, 0x36}, {}, {0, 0, 0x2C}, {},
        {0, 0, 0x21},     {}, {SHIFT, 0, 0x1E}, {}, {0, 0, 0x58}, {}, {0, 0, 0x2B}, {}};
    EXPECT_EQ(reports, expected);
    // A US keyboard has no ISO key: '<' is Shift+comma, not the key the pc105 map adds.
    EXPECT_EQ(us.strokes(U'<'), one(SHIFT, 0x36));
    EXPECT_EQ(us.strokes(U'~'), one(SHIFT, 0x35));
}

TEST(XkbTypist, GermanLayoutUsesItsOwnKeysAndAltGr)
{
    const c_xkb_typist de("de");
    ASSERT_TRUE(de.valid());
    EXPECT_EQ(de.strokes(U'y'), one(0, 0x1D));
    EXPECT_EQ(de.strokes(U'Z'), one(SHIFT, 0x1C));
    EXPECT_EQ(de.strokes(U'!'), one(SHIFT, 0x1E));
    EXPECT_EQ(de.strokes(U'ä'), one(0, 0x34));
    EXPECT_EQ(de.strokes(U'<'), one(0, 0x64));
    EXPECT_EQ(de.strokes(U'|'), one(ALTGR, 0x64));
    EXPECT_EQ(de.strokes(U'@'), one(ALTGR, 0x14));
    EXPECT_EQ(de.strokes(U'€'), one(ALTGR, 0x08));
}

TEST(XkbTypist, DeadKeysGiveTheDirectKeysymOrTheDeadKeyThenSpace)
{
    const c_xkb_typist de("de");
    ASSERT_TRUE(de.valid());
    // '^' and '`' exist only as dead keys on "de".
    EXPECT_EQ(de.strokes(U'^'), (strokes{{0, 0x35}, {0, 0x2C}}));
    EXPECT_EQ(de.strokes(U'`'), (strokes{{SHIFT, 0x2E}, {0, 0x2C}}));
    int skipped = -1;
    EXPECT_EQ(de.reports(U"^", skipped).size(), 4u);

    const c_xkb_typist direct("de(nodeadkeys)");
    ASSERT_TRUE(direct.valid());
    EXPECT_EQ(direct.strokes(U'^'), one(0, 0x35));
}

TEST(XkbTypist, CharactersTheLayoutLacksAreSkippedAndCounted)
{
    const c_xkb_typist us("us");
    int skipped = -1;
    const auto reports = us.reports(U"a\u65e5\u20acb\x01", skipped);
    EXPECT_EQ(skipped, 3);
    EXPECT_EQ(reports.size(), 4u);

    // Unknown layouts and malformed names give no typist at all.
    EXPECT_FALSE(c_xkb_typist("no-such-layout").valid());
    EXPECT_FALSE(c_xkb_typist("de(no-such-variant)").valid());
    EXPECT_FALSE(c_xkb_typist("de(nodeadkeys").valid());
    EXPECT_FALSE(c_xkb_typist("").valid());
    EXPECT_TRUE(c_xkb_typist("fr").valid());
    EXPECT_TRUE(c_xkb_typist("fr").strokes(U'a') == one(0, 0x14));  // AZERTY: a on the Q key
}

// The key table against a second source: the system's XKB data says which
// character each evdev key types on a US keyboard, and the HID usage tables
// name every usage of 0x04..0x38 by that same character.
TEST(HidKeycodes, EveryKeyOfTheMainBlockTypesWhatItsUsageNamesOnAUsKeyboard)
{
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    ASSERT_NE(ctx, nullptr);
    const xkb_rule_names names = {"evdev", "pc104", "us", "", nullptr};
    xkb_keymap* keymap = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    ASSERT_NE(keymap, nullptr);
    xkb_state* state = xkb_state_new(keymap);

    // Usage 0x04 + i types hid_chars[i]; ' ' marks the usages that are no character.
    const std::string hid_chars = "abcdefghijklmnopqrstuvwxyz1234567890     -=[]\\ ;'`,./";
    std::set<uint8_t> seen;
    for (const auto& [evdev, usage] : hid_evdev_table()) {
        EXPECT_TRUE(seen.insert(usage).second) << "usage " << int(usage) << " twice";
        if (usage < 0x04 || usage > 0x38 || hid_chars[usage - 0x04] == ' ')
            continue;
        const uint32_t c = xkb_state_key_get_utf32(state, evdev + 8);
        EXPECT_EQ(c, uint32_t(hid_chars[usage - 0x04])) << "evdev " << evdev << " usage " << int(usage);
    }
    // Complete: the boot keyboard's usages (Linux reports the non-US '#' key
    // 0x32 as backslash), F13..F24, the international and language keys, and
    // the eight modifiers.
    for (int u = 0x04; u <= 0x73; ++u) {
        if (u != 0x32 && u != 0x66) {
            EXPECT_TRUE(seen.count(uint8_t(u))) << "usage " << u << " missing";
        }
    }
    for (int u : {0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x90, 0x91, 0x92, 0x93, 0x94})
        EXPECT_TRUE(seen.count(uint8_t(u))) << "usage " << u << " missing";
    for (int u = 0xE0; u <= 0xE7; ++u)
        EXPECT_TRUE(seen.count(uint8_t(u))) << "usage " << u << " missing";
    EXPECT_EQ(hid_modifier_bit(0xE5), 0x20);
    EXPECT_EQ(hid_usage_for_x11_keycode(94), 0x64);  // <LSGT>
    EXPECT_EQ(hid_usage_for_x11_keycode(7), 0);

    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(ctx);
}
