// The view's arithmetic without a window: fitting, absolute and relative mapping,
// the window size file's line, the pacing of draws.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "tools/key_mouse/c_view_mapper.h"
#include "view/c_draw_pacer.h"

namespace {

int sum_x(const std::vector<c_view_mapper::step>& s)
{
    int t = 0;
    for (auto& st : s) t += st.first;
    return t;
}

}  // namespace

TEST(ViewFit, WidePictureFillsWidthAndIsCentredVertically)
{
    auto r = c_view_mapper::fit(QSize(1920, 1080), QSize(1024, 768));
    EXPECT_EQ(r.scaledSize, QSize(1024, 576));
    EXPECT_EQ(r.origin, QPoint(0, 96));
    EXPECT_FLOAT_EQ(r.scaleX, 1.875f);
    EXPECT_FLOAT_EQ(r.scaleY, 1.875f);
}

TEST(ViewFit, TallPictureFillsHeightAndIsCentredHorizontally)
{
    auto r = c_view_mapper::fit(QSize(1280, 1024), QSize(1600, 900));
    EXPECT_EQ(r.scaledSize, QSize(1125, 900));
    EXPECT_EQ(r.origin, QPoint(237, 0));
    EXPECT_FLOAT_EQ(r.scaleX, 1280.0f / 1125.0f);
    EXPECT_FLOAT_EQ(r.scaleY, 1024.0f / 900.0f);

    // Equal aspects take the full-width branch and fill the area exactly.
    r = c_view_mapper::fit(QSize(1366, 768), QSize(683, 384));
    EXPECT_EQ(r.scaledSize, QSize(683, 384));
    EXPECT_EQ(r.origin, QPoint(0, 0));
    EXPECT_FLOAT_EQ(r.scaleX, 2.0f);
}

TEST(ViewFit, DegenerateSizesNeverDivideByZero)
{
    for (QSize area : {QSize(0, 0), QSize(800, 0), QSize(0, 600), QSize(-1, -1)}) {
        auto r = c_view_mapper::fit(QSize(1920, 1080), area);
        EXPECT_EQ(r.scaledSize, QSize(1920, 1080));
        EXPECT_EQ(r.origin, QPoint(0, 0));
        EXPECT_FLOAT_EQ(r.scaleX, 1.0f);
        EXPECT_FLOAT_EQ(r.scaleY, 1.0f);
    }
    // A very wide picture in a tiny area keeps at least one row.
    auto r = c_view_mapper::fit(QSize(4000, 2), QSize(10, 10));
    EXPECT_GE(r.scaledSize.height(), 1);
    EXPECT_TRUE(std::isfinite(r.scaleY));
}

TEST(ViewArea, ToolBarIsTakenFromTheEdgeItSpans)
{
    EXPECT_EQ(c_view_mapper::display_area(QSize(1064, 768), QSize(40, 768)), QSize(1024, 768));
    EXPECT_EQ(c_view_mapper::display_area(QSize(1024, 808), QSize(1024, 40)), QSize(1024, 768));
    EXPECT_EQ(c_view_mapper::display_area(QSize(1024, 768), QSize(40, 300)), QSize(1024, 768));
}

TEST(AbsoluteMapping, BoundsAndTheFixedGrid)
{
    // 1920 x 1080 shown at 1024 x 576.
    const auto fit = c_view_mapper::fit(QSize(1920, 1080), QSize(1024, 768));
    int16_t X = -1, Y = -1;

    // The right and bottom edges still belong to the picture.
    ASSERT_TRUE(c_view_mapper::map_absolute(QPoint(1024, 576), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                            X, Y));
    EXPECT_EQ(X, 1920);
    EXPECT_EQ(Y, 1200);
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(1025, 10), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                             X, Y));
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(10, 577), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                             X, Y));
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(-1, 10), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                             X, Y));
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(10, -1), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                             X, Y));

    // The remote picture's point (960, 540): label point (512, 288) at scale 1.875.
    ASSERT_TRUE(c_view_mapper::map_absolute(QPoint(512, 288), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, 1080,
                                            X, Y));
    EXPECT_EQ(X, 960);
    EXPECT_EQ(Y, 600);

    // Unscaled view of the same picture: (960, 540) directly.
    ASSERT_TRUE(c_view_mapper::map_absolute(QPoint(960, 540), QSize(1920, 1080), 1.0f, 1.0f, 1920, 1080, X, Y));
    EXPECT_EQ(X, 960);
    EXPECT_EQ(Y, 600);

    // No decoded picture yet: nothing to send.
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(5, 5), fit.scaledSize, fit.scaleX, fit.scaleY, 0, 1080, X, Y));
    EXPECT_FALSE(c_view_mapper::map_absolute(QPoint(5, 5), fit.scaledSize, fit.scaleX, fit.scaleY, 1920, -3, X, Y));
}

TEST(RelativeMapping, LargeMovesSplitIntoSignedByteSteps)
{
    struct Case {
        int counts;
        std::vector<int8_t> steps;
    };
    const Case cases[] = {
        {300, {127, 127, 46}},
        {256, {127, 127}},  // 2 counts dropped
        {128, {127}},       // 1 count dropped
        {127, {127}},
        {-128, {-128}},     // fits one signed byte as it is
        {-300, {-127, -127, -46}},
        {0, {}},
    };
    for (const Case& c : cases) {
        QPoint last(0, 0);
        float fx = 0, fy = 0;
        auto s = c_view_mapper::map_relative(QPoint(c.counts, 0), last, 1.0f, 1.0f, fx, fy);
        ASSERT_EQ(s.size(), c.steps.size()) << c.counts;
        for (size_t i = 0; i < s.size(); ++i) {
            EXPECT_EQ(s[i].first, c.steps[i]) << c.counts << " step " << i;
            EXPECT_EQ(s[i].second, 0) << c.counts << " step " << i;
        }
        EXPECT_EQ(last, QPoint(c.counts, 0));
    }

    // Both axes share the step count; the shorter axis sends 0 once done.
    QPoint last(0, 0);
    float fx = 0, fy = 0;
    auto s = c_view_mapper::map_relative(QPoint(50, -200), last, 1.0f, 1.0f, fx, fy);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], c_view_mapper::step(50, -127));
    EXPECT_EQ(s[1], c_view_mapper::step(0, -73));
}

TEST(RelativeMapping, FractionsCarryOverManySmallMoves)
{
    // At 1.875 remote counts per pixel, one pixel at a time: single moves give
    // 1 or 2 counts, and the sum follows the true movement within one count.
    QPoint last(0, 0);
    float fx = 0, fy = 0;
    int sentX = 0, sentY = 0;
    for (int i = 1; i <= 1000; ++i) {
        auto s = c_view_mapper::map_relative(QPoint(i, -i), last, 1.875f, 1.875f, fx, fy);
        ASSERT_LE(s.size(), 1u);
        for (auto& st : s) {
            sentX += st.first;
            sentY += st.second;
        }
        ASSERT_GT(fx, -1.0f);
        ASSERT_LT(fx, 1.0f);
        ASSERT_GT(fy, -1.0f);
        ASSERT_LT(fy, 1.0f);
        ASSERT_LE(std::abs(sentX - int(std::floor(i * 1.875))), 1) << i;
    }
    EXPECT_EQ(sentX, 1875);
    EXPECT_EQ(sentY, -1875);

    // Below one count per pixel nothing is lost either: 3 pixels at 1/3 each
    // add up to one count sent on the third move.
    last = QPoint(0, 0);
    fx = fy = 0;
    int total = 0;
    for (int i = 1; i <= 30; ++i)
        total += sum_x(c_view_mapper::map_relative(QPoint(i, 0), last, 1.0f / 3.0f, 1.0f, fx, fy));
    EXPECT_GE(total, 9);
    EXPECT_LE(total, 10);

    // Moving back and forth by one pixel returns to where it started.
    last = QPoint(0, 0);
    fx = fy = 0;
    total = 0;
    for (int i = 0; i < 100; ++i) {
        total += sum_x(c_view_mapper::map_relative(QPoint(1, 0), last, 1.875f, 1.0f, fx, fy));
        total += sum_x(c_view_mapper::map_relative(QPoint(0, 0), last, 1.875f, 1.0f, fx, fy));
    }
    EXPECT_LE(std::abs(total), 1);
}

TEST(ClientSizeLine, OnlyTwoPartsAreTaken)
{
    int w = -7, h = -7;
    EXPECT_TRUE(c_view_mapper::parse_client_size("1300,800", w, h));
    EXPECT_EQ(w, 1300);
    EXPECT_EQ(h, 800);

    // Empty parts are dropped before counting.
    EXPECT_TRUE(c_view_mapper::parse_client_size(",640,,480,", w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    // Non-numeric parts read as 0.
    EXPECT_TRUE(c_view_mapper::parse_client_size("abc,480", w, h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 480);

    w = h = -7;
    EXPECT_FALSE(c_view_mapper::parse_client_size("1300,800,600", w, h));
    EXPECT_FALSE(c_view_mapper::parse_client_size("1300", w, h));
    EXPECT_FALSE(c_view_mapper::parse_client_size("", w, h));
    EXPECT_FALSE(c_view_mapper::parse_client_size(",,,", w, h));
    EXPECT_EQ(w, -7);
    EXPECT_EQ(h, -7);
}

TEST(DrawPacer, AJitteredStreamNeverWaitsAndABurstIsHeldToTheAverageRate)
{
    // 60/s with every fifth picture 8 ms late: the on-time picture after a
    // late one comes 8.7 ms after it, and is still drawn at once.
    c_draw_pacer jitter(12.0, 2.0);
    for (int i = 0; i < 300; ++i) {
        const double t = i * 1000.0 / 60.0 + (i % 5 == 0 ? 8.0 : 0.0);
        ASSERT_EQ(jitter.wait_ms(t), 0.0) << "picture " << i;
        jitter.drawn(t);
    }

    // A picture ready every 2 ms for a second, each drawn when allowed:
    // about one per 12 ms, not 500.
    c_draw_pacer burst(12.0, 2.0);
    int draws = 0;
    double t = 0.0;
    while (t < 1000.0) {
        const double wait = burst.wait_ms(t);
        if (wait > 0.0) {
            t += wait;
            continue;
        }
        burst.drawn(t);
        ++draws;
        t += 2.0;
    }
    EXPECT_GE(draws, 1000 / 12 - 1);
    EXPECT_LE(draws, 1000 / 12 + 2);
}
