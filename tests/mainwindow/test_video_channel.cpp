// The video channel of a real main window against a loopback device: the
// user id first, reply logging, the length checks, clear and enciphered video
// data, and what reaches the video label.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QPainter>
#include <QTimer>

#include <thread>

#include "common/h264video_session.h"
#include "common/log_capture.h"

namespace {

// A picture with a distinct colour in each quadrant, so scaling and
// placement show in sampled pixels.
QImage quadrants(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QPainter p(&img);
    p.fillRect(0, 0, w / 2, h / 2, QColor(220, 40, 40));
    p.fillRect(w / 2, 0, w - w / 2, h / 2, QColor(40, 200, 60));
    p.fillRect(0, h / 2, w / 2, h - h / 2, QColor(40, 60, 220));
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, QColor(230, 230, 230));
    return img;
}

bool near(QRgb a, QRgb b, int tol)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

// Waits for a log line; pumping events so queued work runs meanwhile.
bool logged(LogCapture& log, const std::string& text, int timeout_ms = 3000)
{
    return pump_until([&] { return log.contains(text); }, timeout_ms);
}

}  // namespace

TEST(VideoChannel, UserIdFirstThenRepliesAreLoggedAndShortOnesIgnored)
{
    LogCapture log;
    H264VideoSession s(0, 1);
    ASSERT_TRUE(s.video_connected);
    EXPECT_TRUE(log.contains("video userID send"));

    // The first frame the viewer sends: type 50 for user 1, exactly.
    std::vector<uint8_t> body, header;
    ASSERT_TRUE(H264VideoSession::read_frame(s.video, body, &header));
    header.insert(header.end(), body.begin(), body.end());
    EXPECT_EQ(header, (std::vector<uint8_t>{0xA5, 0x01, 0x33, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 1}));

    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({32, 0x00, 0x01})));
    ASSERT_TRUE(logged(log, "videoSetting,setPos,ack,fail"));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({30, 0x00, 0x00})));
    ASSERT_TRUE(logged(log, "videoSetting,beginSet,ack,success"));
    // A reply too short to hold its result byte, then one that does.
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({31, 0x00})));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({31, 0x00, 0x00})));
    ASSERT_TRUE(logged(log, "videoSetting,endSet,ack,success"));
    int endSet = 0;
    for (const auto& l : log.lines())
        endSet += l.find("videoSetting,endSet") != std::string::npos;
    EXPECT_EQ(endSet, 1);

    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({50})));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({50, 0x00})));
    ASSERT_TRUE(logged(log, "video.userID.ack,success"));
    // Once the channel is up, a refusal is only logged.
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({50, 0x01})));
    ASSERT_TRUE(logged(log, "video.userID.ack,fail"));

    // LED states of a wrong length and unknown types change nothing and the
    // channel carries on.
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({4, 0x05, 0x00})));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({99, 1, 2, 3})));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({32, 0x00, 0x00})));
    ASSERT_TRUE(logged(log, "videoSetting,setPos,ack,success"));
}

TEST(VideoChannel, PicturesInClearAndEncipheredReachTheLabel)
{
    LogCapture log;
    H264VideoSession s(1);
    H264Video& w = *s.window;
    show_with_area(w, 1024, 768);
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(H264VideoSession::read_frame(s.video, ignored));

    video_message_source src(640, 480);
    ASSERT_TRUE(src.ok);
    const QImage picture = quadrants(640, 480);

    // A message whose length disagrees with its payload length field is
    // ignored; a reply behind it proves it was handled first.
    auto bad = src.messages_for(picture, 1 << 20);
    ASSERT_EQ(bad.size(), 1u);
    const uint32_t payload = read_be32(bad[0].data() + FRAME_HEADER_LEN + 8);
    write_be32(bad[0].data() + FRAME_HEADER_LEN + 8, payload + 1);
    ASSERT_TRUE(s.video.send_bytes(bad[0]));
    ASSERT_TRUE(s.video.send_bytes(c_devsim_frames::clear({50, 0x00})));
    ASSERT_TRUE(logged(log, "video.userID.ack,success"));
    EXPECT_EQ(H264VideoTestPeer::decodedSize(w), QSize(0, 0));

    // A key frame in three fragments with flags 0, 2, 1 (2 counts as 0), in clear.
    c_h264_encoder enc;
    ASSERT_TRUE(enc.open(640, 480, 30));
    const auto units = enc.encode(picture);
    ASSERT_EQ(units.size(), 1u);
    const auto& u = units[0];
    const uint32_t third = uint32_t(u.size() / 3);
    const std::vector<std::vector<uint8_t> > msgs = {
        c_devsim_frames::video(0, 7, 0, u.data(), third, nullptr),
        c_devsim_frames::video(2, 7, 1, u.data() + third, third, nullptr),
        c_devsim_frames::video(1, 7, 2, u.data() + 2 * third, uint32_t(u.size()) - 2 * third, nullptr),
    };
    for (const auto& m : msgs)
        ASSERT_TRUE(s.video.send_bytes(m));
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::frameSize(w) == QSize(640, 480); }, 10000));
    EXPECT_EQ(H264VideoTestPeer::decodedSize(w), QSize(640, 480));

    // 640 x 480 (4:3) fills the 1024 x 768 area exactly.
    EXPECT_EQ(H264VideoTestPeer::scaledSize(w), QSize(1024, 768));
    EXPECT_EQ(H264VideoTestPeer::videoOrigin(w), QPoint(0, 0));
    EXPECT_EQ(w.ui.actionOptRes->toolTip(), QStringLiteral("optimum resolution:640,480"));
    QImage shown = H264VideoTestPeer::shownImage(w);
    ASSERT_EQ(shown.size(), QSize(1024, 768));
    EXPECT_TRUE(near(shown.pixel(256, 192), qRgb(220, 40, 40), 24));
    EXPECT_TRUE(near(shown.pixel(768, 192), qRgb(40, 200, 60), 24));
    EXPECT_TRUE(near(shown.pixel(256, 576), qRgb(40, 60, 220), 24));
    EXPECT_TRUE(near(shown.pixel(768, 576), qRgb(230, 230, 230), 24));

    // A wider picture, its first 16 body bytes enciphered as the device does,
    // is letter-boxed in the label's background colour.
    video_message_source wide(1280, 720);
    ASSERT_TRUE(wide.ok);
    for (const auto& m : wide.messages_for(quadrants(1280, 720), 30000, g_para.desEncode.key))
        ASSERT_TRUE(s.video.send_bytes(m));
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::frameSize(w) == QSize(1280, 720); }, 10000));
    EXPECT_EQ(H264VideoTestPeer::scaledSize(w), QSize(1024, 576));
    EXPECT_EQ(H264VideoTestPeer::videoOrigin(w), QPoint(0, 96));
    shown = H264VideoTestPeer::shownImage(w);
    const QColor background = w.ui.label->palette().color(w.ui.label->backgroundRole());
    EXPECT_EQ(QColor(shown.pixel(500, 40)).rgb(), background.rgb());
    EXPECT_TRUE(near(shown.pixel(256, 96 + 144), qRgb(220, 40, 40), 24));
    EXPECT_TRUE(near(shown.pixel(768, 96 + 432), qRgb(230, 230, 230), 24));
    EXPECT_FALSE(log.contains("video data header not 0x06"));
}

TEST(VideoChannel, ABurstOfPicturesIsThinnedToTheScreenButTheNewestIsShown)
{
    H264VideoSession s(1);
    H264Video& w = *s.window;
    show_with_area(w, 640, 480);
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(H264VideoSession::read_frame(s.video, ignored));

    // Every render of a decoded picture, timed as it lands on the label.
    std::vector<std::chrono::steady_clock::time_point> renders;
    uint64_t key = H264VideoTestPeer::picturesShown(w);
    QObject probe;
    QObject::connect(
        &w, &H264Video::signal_decode_one_frame, &probe,
        [&] {
            const uint64_t k = H264VideoTestPeer::picturesShown(w);
            if (k != key)
                renders.push_back(std::chrono::steady_clock::now());
            key = k;
        },
        Qt::QueuedConnection);

    // 200 pictures, one every 1.5 ms (far above any screen's rate), each a
    // shade different; the last one red.
    video_message_source src(320, 240);
    ASSERT_TRUE(src.ok);
    const int n = 200;
    std::vector<std::vector<uint8_t> > wire;
    for (int i = 0; i < n; ++i) {
        QImage pic(320, 240, QImage::Format_RGB32);
        pic.fill(i + 1 == n ? QColor(220, 30, 30) : QColor(40 + i % 150, 40 + i % 150, 40 + i % 150));
        for (auto& m : src.messages_for(pic, 60 * 1024))
            wire.push_back(std::move(m));
    }
    std::thread sender([&] {
        for (const auto& m : wire) {
            if (!s.video.send_bytes(m))
                return;
            std::this_thread::sleep_for(std::chrono::microseconds(1500));
        }
    });
    // A real event loop, so that every signal is taken as soon as it comes.
    QEventLoop loop;
    bool newest = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const QImage shown = H264VideoTestPeer::shownImage(w);
        newest = !shown.isNull() && near(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(220, 30, 30), 24);
        if (newest)
            loop.quit();
    });
    look.start(20);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    sender.join();
    ASSERT_TRUE(newest) << "the newest picture never reached the label";
    ASSERT_FALSE(renders.empty());
    EXPECT_LT(renders.size(), size_t(n));
    // Decoded pictures are drawn no faster than the pacing allows: two may
    // follow one another, then one per 12 ms on average. Checked over the
    // whole burst, as each time stamp here is taken after the draw, late by
    // however long the machine kept this thread waiting; unpaced, nearly
    // every picture would be drawn.
    using ms = std::chrono::duration<double, std::milli>;
    const double span = ms(renders.back() - renders.front()).count();
    EXPECT_LE(double(renders.size()), 4.0 + span / 10.0) << renders.size() << " draws in " << span << " ms";
}
