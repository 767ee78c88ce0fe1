// The video view on a real window: the no-signal picture, layout changes,
// full screen, optimum size, relative mapping and alignment.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "common/h264video_session.h"
#include "common/log_capture.h"
#include "tools/socket/tick_count.h"

namespace {

std::vector<std::vector<uint8_t> > km_bodies(H264Video& w)
{
    std::vector<std::vector<uint8_t> > out;
    for (const auto& f : H264VideoTestPeer::kmQueue(w))
        out.push_back(km_plain_body(f));
    return out;
}

}  // namespace

TEST(VideoView, NoSignalPictureWhenNothingArrivesAndAgainWhenTheStreamStops)
{
    H264VideoSession s(1);
    H264Video& w = *s.window;
    w.show();
    ASSERT_FALSE(H264VideoTestPeer::noSignalImage(w).isNull());
    EXPECT_EQ(H264VideoTestPeer::noSignalImage(w).size(), QSize(1366, 768));

    // Before any picture: the no-signal picture about a second after start.
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::picturesShown(w) > 0; }, 3000));
    EXPECT_EQ(H264VideoTestPeer::frameSize(w), QSize(1366, 768));
    EXPECT_EQ(w.ui.actionOptRes->toolTip(), QStringLiteral("optimum resolution:1366,768"));

    // A picture, then silence: within about a second the placeholder is back.
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(H264VideoSession::read_frame(s.video, ignored));
    video_message_source src(320, 240);
    ASSERT_TRUE(src.ok);
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 10));
    for (const auto& m : src.messages_for(picture, 60000))
        ASSERT_TRUE(s.video.send_bytes(m));
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::frameSize(w) == QSize(320, 240); }, 10000));
    const uint32_t shownAt = get_tick_count();
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::frameSize(w) == QSize(1366, 768); }, 4000));
    EXPECT_GE(get_tick_count() - shownAt, 900u);
    EXPECT_EQ(w.ui.actionOptRes->toolTip(), QStringLiteral("optimum resolution:1366,768"));
}

TEST(VideoView, ResizeFullScreenAndOptimumSize)
{
    H264VideoSession s(1);
    H264Video& w = *s.window;
    w.show();
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::picturesShown(w) > 0; }, 3000));

    // A new display area resizes the label at the next render.
    const int bar = w.ui.toolBar->width();
    w.resize(bar + 800, 600);
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::areaSize(w) == QSize(800, 600); }, 4000));
    EXPECT_EQ(w.ui.label->size(), QSize(800, 600));
    EXPECT_EQ(H264VideoTestPeer::shownImage(w).size(), QSize(800, 600));
    // 1366 x 768 in 800 x 600: full width, centred vertically.
    EXPECT_EQ(H264VideoTestPeer::scaledSize(w), QSize(800, 450));
    EXPECT_EQ(H264VideoTestPeer::videoOrigin(w), QPoint(0, 75));

    // Full screen twice returns to the plain state and raises the align flag.
    w.on_full_screen();
    EXPECT_TRUE(w.windowState() & Qt::WindowFullScreen);
    EXPECT_EQ(H264VideoTestPeer::alignOnNextFrame(w), 1);
    w.on_full_screen();
    EXPECT_EQ(w.windowState(), Qt::WindowNoState);
    EXPECT_EQ(H264VideoTestPeer::isFullScreen(w), 0);

    // Optimum size: the picture's size beside the tool bar, within the
    // screen's available area, centred on the desktop.
    w.on_slot_optRes();
    const QSize optimum = QSize(1366 + bar, 768).boundedTo(w.screen()->availableGeometry().size());
    EXPECT_EQ(w.size(), optimum);
    EXPECT_EQ(w.displayArea(), QSize(optimum.width() - bar, optimum.height()));
    const QRect desk = QGuiApplication::primaryScreen()->virtualGeometry();
    EXPECT_EQ(w.pos(), QPoint((desk.width() - w.width()) / 2, (desk.height() - w.height()) / 2));
}

TEST(VideoView, RelativeMovesAndAlignment)
{
    LogCapture log;
    H264VideoSession s(0);
    H264Video& w = *s.window;
    w.show();
    const int bar = w.ui.toolBar->width();
    w.resize(bar + 1366, 768);
    pump_for(30);
    // The no-signal picture at its own size: one remote count per pixel. In
    // relative mode the first render (this one, or the no-signal timer's)
    // aligns the mouse: behind the user id and the privilege request.
    w.on_slot_decode_one_frame(H264VideoTestPeer::noSignalImage(w));
    ASSERT_FLOAT_EQ(H264VideoTestPeer::scaleX(w), 1.0f);
    auto bodies = km_bodies(w);
    ASSERT_EQ(bodies.size(), 22u);
    for (size_t i = 2; i < bodies.size(); ++i)
        EXPECT_EQ(bodies[i], (std::vector<uint8_t>{5, 0, 0x81, 0x81, 0}));
    EXPECT_EQ(H264VideoTestPeer::alignOnNextFrame(w), 0);

    // Alignment left the local position at (0, 0): 300 counts right.
    w.clearKmQueue();
    w.sendRelativeMouse(QPoint(300, 0));
    bodies = km_bodies(w);
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0], (std::vector<uint8_t>{5, 0, 127, 0, 0}));
    EXPECT_EQ(bodies[1], (std::vector<uint8_t>{5, 0, 127, 0, 0}));
    EXPECT_EQ(bodies[2], (std::vector<uint8_t>{5, 0, 46, 0, 0}));
    EXPECT_TRUE(log.contains("mouseEvt pos:300,0"));

    // 128 counts up from there: one step of -128 fits one signed byte.
    w.clearKmQueue();
    w.sendRelativeMouse(QPoint(300, -128));
    bodies = km_bodies(w);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0], (std::vector<uint8_t>{5, 0, 0, 0x80, 0}));

    // Later renders do not align again.
    w.clearKmQueue();
    w.on_slot_decode_one_frame(H264VideoTestPeer::noSignalImage(w));
    EXPECT_TRUE(km_bodies(w).empty());
}
