// Relative mouse reports and the fixed KM payload layouts.
#include <gtest/gtest.h>

#include <array>

#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/km_messages.h"

namespace {

using Rel = std::array<unsigned char, 4>;

Rel build(c_mouse_translator& m, int button, int kind, int dx = 0, int dy = 0, int wheel = 0)
{
    Rel out;
    out.fill(0xEE);
    int len = -1;
    m.build(button, kind, dx, dy, wheel, out.data(), len);
    EXPECT_EQ(len, 4);
    return out;
}

}  // namespace

TEST(MouseTranslator, ButtonsPersistIntoLaterReports)
{
    c_mouse_translator m;
    EXPECT_EQ(build(m, 2, 2), (Rel{0x02, 0, 0, 0}));
    EXPECT_EQ(build(m, 0, 5, 10, 0), (Rel{0x02, 10, 0, 0}));
    EXPECT_EQ(build(m, 1, 2), (Rel{0x03, 0, 0, 0}));
    EXPECT_EQ(build(m, 2, 3), (Rel{0x01, 0, 0, 0}));
    EXPECT_EQ(build(m, 4, 2), (Rel{0x05, 0, 0, 0}));
    EXPECT_EQ(build(m, 1, 3), (Rel{0x04, 0, 0, 0}));
    EXPECT_EQ(build(m, 4, 3), (Rel{0, 0, 0, 0}));
}

TEST(MouseTranslator, OtherKindsAndButtonsChangeNothing)
{
    c_mouse_translator m;
    build(m, 1, 2);
    EXPECT_EQ(build(m, 1, 4), (Rel{0x01, 0, 0, 0}));  // double click is turned into a press by the caller
    EXPECT_EQ(build(m, 8, 2), (Rel{0x01, 0, 0, 0}));
    EXPECT_EQ(build(m, 8, 3), (Rel{0x01, 0, 0, 0}));
    // The middle button in relative mode goes out as button 0 with wheel byte 4.
    c_mouse_translator fresh;
    EXPECT_EQ(build(fresh, 0, 2, 0, 0, 4), (Rel{0, 0, 0, 0x04}));
    EXPECT_EQ(fresh.buttons(), 0);
}

TEST(MouseTranslator, MovementIsSignedBytes)
{
    c_mouse_translator m;
    EXPECT_EQ(build(m, 0, 5, -5, 127, -1), (Rel{0, 0xFB, 0x7F, 0xFF}));
    EXPECT_EQ(build(m, 0, 5, -127, -128, 1), (Rel{0, 0x81, 0x80, 0x01}));
}

TEST(KmPayloads, AbsoluteMouseIsLittleEndian)
{
    using Abs = std::array<unsigned char, 6>;
    EXPECT_EQ(km_mouse_abs_payload(KM_ABS_LEFT, 960, 600, -1), (Abs{0x01, 0xC0, 0x03, 0x58, 0x02, 0xFF}));
    EXPECT_EQ(km_mouse_abs_payload(KM_ABS_RIGHT, 1919, 1199, 1), (Abs{0x02, 0x7F, 0x07, 0xAF, 0x04, 0x01}));
    EXPECT_EQ(km_mouse_abs_payload(KM_ABS_NONE, 0, 0, 0), (Abs{0, 0, 0, 0, 0, 0}));
}

TEST(KmPayloads, UserIdIsBigEndian)
{
    using Id = std::array<unsigned char, 4>;
    EXPECT_EQ(km_userid_payload(42), (Id{0x00, 0x00, 0x00, 0x2A}));
    EXPECT_EQ(km_userid_payload(0x01020304u), (Id{0x01, 0x02, 0x03, 0x04}));
}

TEST(KmPayloads, ReportTextListsDecimalBytes)
{
    const unsigned char r[8] = {2, 0, 4, 0, 0, 0, 0, 255};
    EXPECT_EQ(km_report_text(r, 8), "2,0,4,0,0,0,0,255");
    EXPECT_EQ(km_report_text(r, 0), "");
}
