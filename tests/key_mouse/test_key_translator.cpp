// Keyboard reports from Qt key codes: held-key bookkeeping, chords for stored
// sequences, and the lookup tables.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "common/log_capture.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/hid_keycodes.h"

namespace {

using Report = std::array<unsigned char, 8>;

const int kShift = 0x01000020;
const int kControl = 0x01000021;
const int kMeta = 0x01000022;
const int kAlt = 0x01000023;
const int kDelete = 0x01000007;
const int kPrintScreen = 0x010000BA;
const int kQtPrint = 0x01000009;

Report press(c_key_translator& t, int key, bool pressed = true)
{
    Report out;
    out.fill(0xEE);
    int len = -1;
    EXPECT_TRUE(t.translate(key, pressed, out.data(), len)) << std::hex << key;
    EXPECT_EQ(len, 8);
    return out;
}

Report release(c_key_translator& t, int key)
{
    return press(t, key, false);
}

Report chord(const c_key_translator& t, std::vector<int> keys)
{
    Report out;
    out.fill(0xEE);
    t.sequenceReport(keys, out.data());
    return out;
}

// Usage the translator sends for a key pressed alone (byte 2, or byte 0 for modifiers).
int usageOf(int key)
{
    c_key_translator t;
    Report r = press(t, key);
    return t.isModifier(key) ? r[0] : r[2];
}

}  // namespace

TEST(KeyTranslator, ShiftAndLetterKeepModifierAcrossEvents)
{
    c_key_translator t;
    EXPECT_EQ(press(t, kShift), (Report{0x02, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(press(t, 'A'), (Report{0x02, 0, 0x04, 0, 0, 0, 0, 0}));
    EXPECT_EQ(release(t, 'A'), (Report{0x02, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(release(t, kShift), Report{});

    // Modifiers are independent bits; releasing one that is not held changes nothing.
    press(t, kControl);
    press(t, kAlt);
    EXPECT_EQ(press(t, kMeta)[0], 0x0D);
    EXPECT_EQ(release(t, kShift)[0], 0x0D);
    EXPECT_EQ(release(t, kAlt)[0], 0x09);
}

TEST(KeyTranslator, HeldKeysStayPackedInPressOrder)
{
    c_key_translator t;
    press(t, 'A');
    press(t, 'B');
    EXPECT_EQ(press(t, 'C'), (Report{0, 0, 0x04, 0x05, 0x06, 0, 0, 0}));
    EXPECT_EQ(release(t, 'B'), (Report{0, 0, 0x04, 0x06, 0, 0, 0, 0}));
    // A key that is not held releases nothing.
    EXPECT_EQ(release(t, 'Z'), (Report{0, 0, 0x04, 0x06, 0, 0, 0, 0}));
    EXPECT_EQ(release(t, 'A'), (Report{0, 0, 0x06, 0, 0, 0, 0, 0}));
    EXPECT_EQ(press(t, 'D'), (Report{0, 0, 0x06, 0x07, 0, 0, 0, 0}));
}

TEST(KeyTranslator, RepeatedPressIsOneEntryAndOneReleaseFreesIt)
{
    c_key_translator t;
    press(t, 'A');
    EXPECT_EQ(press(t, 'A'), (Report{0, 0, 0x04, 0, 0, 0, 0, 0}));
    EXPECT_EQ(release(t, 'A'), Report{});
}

TEST(KeyTranslator, SeventhHeldKeyIsNotRecorded)
{
    c_key_translator t;
    for (char c : std::string("ABCDEF"))
        press(t, c);
    const Report six{0, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    EXPECT_EQ(t.report()[7], 0x09);
    EXPECT_EQ(press(t, 'G'), six);
    EXPECT_EQ(release(t, 'G'), six);
    // Releasing the last held slot frees room for a new key.
    EXPECT_EQ(release(t, 'F'), (Report{0, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0}));
    EXPECT_EQ(press(t, 'G'), (Report{0, 0, 0x04, 0x05, 0x06, 0x07, 0x08, 0x0A}));
}

TEST(KeyTranslator, UnknownKeysAreRefusedAndOnlyHighCodesLogged)
{
    LogCapture log;
    c_key_translator t;
    press(t, kShift);
    press(t, 'Q');
    const Report before{0x02, 0, 0x14, 0, 0, 0, 0, 0};

    Report out;
    out.fill(0xEE);
    int len = -1;
    EXPECT_FALSE(t.translate(kQtPrint, true, out.data(), len));
    EXPECT_EQ(len, -1);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_TRUE(log.contains("pSpecialKey==specialKeys.end() 16777225"));

    // Codes up to 223 without a usage are refused silently.
    log.clear();
    EXPECT_FALSE(t.translate(0x6C, true, out.data(), len));
    EXPECT_FALSE(t.translate(0, false, out.data(), len));
    EXPECT_FALSE(t.translate(-5, true, out.data(), len));
    EXPECT_EQ(len, -1);
    EXPECT_FALSE(log.contains("pSpecialKey"));

    EXPECT_EQ(0, std::memcmp(t.report(), before.data(), 8));
}

TEST(KeyTranslator, ResetForgetsHeldKeysAndModifiers)
{
    c_key_translator t;
    press(t, kControl);
    press(t, 'A');
    press(t, 'B');
    t.reset();
    EXPECT_EQ(0, std::memcmp(t.report(), Report{}.data(), 8));
    EXPECT_EQ(release(t, 'A'), Report{});
    EXPECT_EQ(press(t, 'C'), (Report{0, 0, 0x06, 0, 0, 0, 0, 0}));
}

TEST(KeyTranslator, SequenceReportIsOneChordAndLeavesHeldKeysAlone)
{
    LogCapture log;
    c_key_translator t;
    press(t, 'A');

    EXPECT_EQ(chord(t, {kControl, kAlt, kDelete}), (Report{0x05, 0, 0x4C, 0, 0, 0, 0, 0}));
    EXPECT_EQ(chord(t, {kPrintScreen}), (Report{0, 0, 0x46, 0, 0, 0, 0, 0}));
    // Only the last non-modifier key survives.
    EXPECT_EQ(chord(t, {kShift, 'A', 'B'}), (Report{0x02, 0, 0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(chord(t, {}), Report{});
    // A key without a usage counts as 0 and is not logged.
    EXPECT_EQ(chord(t, {'A', kQtPrint}), Report{});
    EXPECT_FALSE(log.contains("pSpecialKey"));

    EXPECT_EQ(t.report()[2], 0x04);
    EXPECT_EQ(t.report()[3], 0);
}

// The special keys come first (Backslash is 0x31, not the table's 0xE7; Return
// and Enter are keypad Enter), then the direct table for codes up to 223.
TEST(KeyTranslator, UsagesOfSpecialAndDirectKeys)
{
    struct Row { int key; int usage; };
    const Row rows[] = {
        {0x5C, 0x31}, {0x01000004, 0x58}, {0x01000005, 0x58}, {0x01000030, 0x3A}, {0x0100003B, 0x45},
        {0x01000024, 0x39}, {0x01000012, 0x50}, {0x01000014, 0x4F}, {0x01000013, 0x52}, {0x01000015, 0x51},
        {0x01000016, 0x4B}, {0x01000017, 0x4E}, {0x01000055, 0x65}, {0x01000000, 0x29}, {0x01000026, 0x47},
        {kMeta, 0x08},
        {0x08, 0x2A}, {0x0D, 0x28}, {0x11, 0xE0}, {0x14, 0x39}, {0x1B, 0x29}, {' ', 0x2C},
        {'!', 0x1E},  {'"', 0x34},  {'\'', 0x34}, {')', 0x27},  {'*', 0x55},  {'/', 0x38},
        {'0', 0x27},  {'1', 0x1E},  {'9', 0x26},  {':', 0x33},  {'<', 0x36},  {'@', 0x1F},
        {'A', 0x04},  {'Z', 0x1D},  {'[', 0x2F},  {']', 0x30},  {'`', 0x35},  {0x61, 0x59},
        {0x69, 0x61}, {0x6D, 0x56}, {0x6F, 0x54}, {0x70, 0x3A}, {0x7A, 0x44}, {'{', 0x2F},
        {'~', 0x35},  {0x7F, 0x4C}, {0x90, 0x53}, {0x91, 0x47}, {0xBA, 0x33}, {0xC0, 0x35},
        {0xDB, 0x2F}, {0xDE, 0x34},
    };
    for (const Row& r : rows)
        EXPECT_EQ(usageOf(r.key), r.usage) << "key 0x" << std::hex << r.key;
}

TEST(KeyTranslator, PhysicalKeysKeepLeftAndRightModifiersApart)
{
    c_key_translator t;
    Report out;
    int len = 0;
    ASSERT_TRUE(t.translateUsage(0xE1, true, out.data(), len));   // left Shift
    ASSERT_TRUE(t.translateUsage(0xE5, true, out.data(), len));   // right Shift
    ASSERT_TRUE(t.translateUsage(0xE6, true, out.data(), len));   // right Alt (AltGr)
    ASSERT_TRUE(t.translateUsage(0x64, true, out.data(), len));   // the ISO key
    EXPECT_EQ(out, (Report{0x62, 0, 0x64, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(t.translateUsage(0xE5, false, out.data(), len));
    EXPECT_EQ(out, (Report{0x42, 0, 0x64, 0, 0, 0, 0, 0}));  // left Shift still held
    ASSERT_TRUE(t.translateUsage(0x64, false, out.data(), len));
    EXPECT_EQ(out, (Report{0x42, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(t.translateUsage(0, true, out.data(), len));
    EXPECT_EQ(len, 8);
    // The main Enter key (X keycode 36) goes out as keypad Enter, as by character.
    ASSERT_TRUE(t.translateUsage(hid_usage_for_x11_keycode(36), true, out.data(), len));
    EXPECT_EQ(out, (Report{0x42, 0, 0x58, 0, 0, 0, 0, 0}));
}

TEST(KeyTranslator, CharacterKeysReleaseWhatTheyPressedWithTheirOwnShift)
{
    // A German local layout: Shift+7 types '/', AltGr+Q types '@'. The
    // modifiers change before the keys are let go, so the releases come with
    // other characters ('7', 'Q'); nothing may stay held on the remote side,
    // and each character arrives with the Shift it needs on a US keyboard.
    c_key_translator t;
    const uint32_t key7 = 16, keyQ = 24, shiftKey = 50;
    Report out;
    int len = 0;
    ASSERT_TRUE(t.translate(kShift, true, out.data(), len, shiftKey));
    ASSERT_TRUE(t.translate('/', true, out.data(), len, key7));
    EXPECT_EQ(out, (Report{0x00, 0, 0x38, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(t.translate(kShift, false, out.data(), len, shiftKey));
    EXPECT_EQ(out, (Report{0x00, 0, 0x38, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(t.translate('7', false, out.data(), len, key7));
    EXPECT_EQ(out, Report{});

    ASSERT_TRUE(t.translate('@', true, out.data(), len, keyQ));
    EXPECT_EQ(out, (Report{0x02, 0, 0x1F, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(t.translate('Q', false, out.data(), len, keyQ));
    EXPECT_EQ(out, Report{});

    // The held Control stays; only Shift follows the character, and comes
    // back as held once the character's key is up.
    ASSERT_TRUE(t.translate(kControl, true, out.data(), len, 37));
    ASSERT_TRUE(t.translate(kShift, true, out.data(), len, shiftKey));
    ASSERT_TRUE(t.translate('-', true, out.data(), len, 20));
    EXPECT_EQ(out, (Report{0x01, 0, 0x2D, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(t.translate('-', false, out.data(), len, 20));
    EXPECT_EQ(out, (Report{0x03, 0, 0, 0, 0, 0, 0, 0}));
}
