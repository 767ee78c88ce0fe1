// The KM channel of a real main window against a loopback device: what is
// queued at connect, the flush with its answer wait, the keep-alive's place,
// the handling of the device's messages and a clean stop of the receive thread.
#include <gtest/gtest.h>

#include <QCursor>
#include <atomic>
#include <chrono>
#include <thread>

#include "common/h264video_session.h"
#include "common/log_capture.h"
#include "tools/crypto/c_des.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_frame.h"

namespace {

using clock_type = std::chrono::steady_clock;

long elapsed_ms(clock_type::time_point since)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since).count());
}

// Runs sync() on a thread of its own, as the media send thread does, and
// reports how long each call took.
std::vector<long> flush_all(H264Video& w)
{
    std::vector<long> took;
    std::thread t([&] {
        for (;;) {
            const auto t0 = clock_type::now();
            if (!w.sync())
                break;
            took.push_back(elapsed_ms(t0));
        }
    });
    t.join();
    return took;
}

// A KM frame whose body is enciphered whatever its type (the device's own
// builder sends type 50 in clear).
std::vector<uint8_t> enciphered_km(std::vector<uint8_t> body)
{
    int len = int(body.size());
    body.resize(body.size() + 8, 0);
    des_encrypt_frame(g_para.desEncode.key, body.data(), body.data(), &len);
    body.resize(size_t(len));
    std::vector<uint8_t> frame(FRAME_HEADER_LEN, 0);
    frame_header_template(frame.data());
    write_be32(frame.data() + 3, 2);
    write_be32(frame.data() + 7, uint32_t(len));
    frame[2] = sum8(body.data(), uint32_t(len));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

// Keyboard reports stand for any queued message: pointer reports waiting
// would be merged into one.
std::vector<uint8_t> key_report(uint8_t usage)
{
    return {0, 0, usage, 0, 0, 0, 0, 0};
}

}  // namespace

TEST(KmChannel, UserIdAndPrivilegeRequestAreQueuedFirstAndSentInOrder)
{
    LogCapture log;
    H264VideoSession s(0, 42);
    ASSERT_TRUE(s.km_connected);
    ASSERT_TRUE(log.contains("H264Video::create_km_socket:127.0.0.1 port:" + std::to_string(s.km.port())));
    EXPECT_TRUE(log.contains("km send userID"));
    EXPECT_TRUE(log.contains("create_km_socket success."));

    const auto queue = H264VideoTestPeer::kmQueue(*s.window);
    ASSERT_GE(queue.size(), 2u);
    // The user id travels in clear: header, then 32 00 00 00 2A.
    const std::vector<uint8_t> userFrame = {0xA5, 0x01, 0x5C, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0x00, 0x00, 0x00, 0x2A};
    EXPECT_EQ(queue[0], userFrame);
    EXPECT_EQ(km_plain_body(queue[1]), (std::vector<uint8_t>{CMD_KM_PRIVILEGE, 0x00}));
    // The privilege request is enciphered: its wire length is a whole block.
    EXPECT_EQ(frame_wire_len(queue[1].data()), 8u);

    // Nothing goes out until something flushes; then both leave in order.
    EXPECT_TRUE(s.km.recv_bytes(1, 300).empty());
    std::thread device([&] {
        std::vector<uint8_t> frame;
        for (int i = 0; i < 2; ++i)
            if (H264VideoSession::read_whole_frame(s.km, frame))
                s.km.send_bytes(s.km_from_device({CMD_KM_USERID, 0x00, 0x07}));
    });
    const auto took = flush_all(*s.window);
    device.join();
    EXPECT_EQ(took.size(), 2u);
    ASSERT_TRUE(pump_until([&] { return log.contains("km recv userID  ack,value=0"); }, 2000));
}

TEST(KmChannel, AbsoluteReportForTheCentreOfA1080pPicture)
{
    LogCapture log;
    H264VideoSession s(1);
    H264Video& w = *s.window;
    show_with_area(w, 1024, 768);
    ASSERT_EQ(w.displayArea(), QSize(1024, 768));

    // A 1920 x 1080 picture shown at 1024 x 576 from (0, 96).
    QImage picture(1920, 1080, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    w.on_slot_decode_one_frame(picture);
    ASSERT_EQ(H264VideoTestPeer::scaledSize(w), QSize(1024, 576));
    ASSERT_EQ(H264VideoTestPeer::videoOrigin(w), QPoint(0, 96));

    // Without a decoded picture the mapping has no remote size: nothing is sent.
    w.clearKmQueue();
    QCursor::setPos(w.ui.label->mapToGlobal(QPoint(512, 96 + 288)));
    H264VideoTestPeer::setAbsButtons(w, KM_ABS_LEFT);
    w.sendAbsoluteMouse(-1);
    EXPECT_TRUE(H264VideoTestPeer::kmQueue(w).empty());

    // Decode one real 1920 x 1080 picture so the decoded size is known.
    std::vector<uint8_t> ignored;
    ASSERT_TRUE(H264VideoSession::read_frame(s.video, ignored));  // the viewer's type 50
    video_message_source frames(1920, 1080);
    ASSERT_TRUE(frames.ok);
    for (const auto& msg : frames.messages_for(picture, 60000))
        ASSERT_TRUE(s.video.send_bytes(msg));
    ASSERT_TRUE(pump_until([&] { return H264VideoTestPeer::decodedSize(w) == QSize(1920, 1080); }, 10000));

    // Rendering the decoded picture keeps the same view; put the cursor back on
    // the remote point (960, 540).
    pump_for(50);
    w.clearKmQueue();
    QCursor::setPos(w.ui.label->mapToGlobal(QPoint(512, 96 + 288)));
    ASSERT_EQ(w.ui.label->mapFromGlobal(QCursor::pos()), QPoint(512, 384));
    w.sendAbsoluteMouse(-1);
    const auto queue = H264VideoTestPeer::kmQueue(w);
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(km_plain_body(queue[0]), (std::vector<uint8_t>{CMD_KM_MOUSE_ABS, 0x01, 0xC0, 0x03, 0x58, 0x02, 0xFF}));
    EXPECT_TRUE(log.contains("local pos:512,288,remote pos:960,600"));

    // One pixel beyond the scaled picture's right edge sends nothing.
    w.clearKmQueue();
    QCursor::setPos(w.ui.label->mapToGlobal(QPoint(1025, 200)));
    w.sendAbsoluteMouse(0);
    EXPECT_TRUE(H264VideoTestPeer::kmQueue(w).empty());
}

TEST(KmChannel, KeepAliveJumpsTheQueueAndIsNotWaitedFor)
{
    H264VideoSession s;
    H264Video& w = *s.window;
    w.clearKmQueue();
    for (int i = 1; i <= 10; ++i) {
        const auto r = key_report(uint8_t(i));
        w.sendKmMessage(CMD_KM_KEYBOARD, int(r.size()), r.data());
    }
    w.prependKmMessage(CMD_KM_KEEPALIVE);
    const auto queue = H264VideoTestPeer::kmQueue(w);
    ASSERT_EQ(queue.size(), 11u);
    EXPECT_EQ(km_plain_body(queue[0]), (std::vector<uint8_t>{CMD_KM_KEEPALIVE, 0}));

    // The device never answers: the keep-alive returns at once, the report
    // behind it holds the flush for the whole 200 ms.
    long keepAliveMs = -1, reportMs = -1;
    std::thread t([&] {
        auto t0 = clock_type::now();
        w.sync();
        keepAliveMs = elapsed_ms(t0);
        t0 = clock_type::now();
        w.sync();
        reportMs = elapsed_ms(t0);
    });
    t.join();
    EXPECT_LT(keepAliveMs, 150);
    EXPECT_GE(reportMs, 195);

    std::vector<uint8_t> frame;
    ASSERT_TRUE(H264VideoSession::read_whole_frame(s.km, frame));
    EXPECT_EQ(km_plain_body(frame), (std::vector<uint8_t>{CMD_KM_KEEPALIVE, 0}));
    ASSERT_TRUE(H264VideoSession::read_whole_frame(s.km, frame));
    EXPECT_EQ(km_plain_body(frame), (std::vector<uint8_t>{CMD_KM_KEYBOARD, 0, 0, 1, 0, 0, 0, 0, 0}));
}

TEST(KmChannel, SilentDeviceSlowsTheFlowButLosesNothing)
{
    H264VideoSession s;
    H264Video& w = *s.window;
    w.clearKmQueue();
    const int n = 8;
    for (int i = 1; i <= n; ++i) {
        const auto r = key_report(uint8_t(i));
        w.sendKmMessage(CMD_KM_KEYBOARD, int(r.size()), r.data());
    }
    const auto t0 = clock_type::now();
    const auto took = flush_all(w);
    const long total = elapsed_ms(t0);
    ASSERT_EQ(int(took.size()), n);
    for (long ms : took)
        EXPECT_GE(ms, 195);  // one message per 200 ms
    EXPECT_GE(total, n * 195);

    for (int i = 1; i <= n; ++i) {
        std::vector<uint8_t> frame;
        ASSERT_TRUE(H264VideoSession::read_whole_frame(s.km, frame)) << i;
        EXPECT_EQ(km_plain_body(frame), (std::vector<uint8_t>{CMD_KM_KEYBOARD, 0, 0, uint8_t(i), 0, 0, 0, 0, 0})) << i;
    }
    EXPECT_TRUE(s.km.recv_bytes(1, 100).empty());
}

TEST(KmChannel, AnyDeviceMessageReleasesTheWaitAndFailuresAreLogged)
{
    LogCapture log;
    H264VideoSession s;
    H264Video& w = *s.window;
    w.clearKmQueue();
    const int n = 6;
    for (int i = 1; i <= n; ++i) {
        const auto r = key_report(uint8_t(i));
        w.sendKmMessage(CMD_KM_KEYBOARD, int(r.size()), r.data());
    }

    // The answers: a failed keyboard report, a failed mouse report, a user id
    // answer whose value byte 0 is stripped by the deciphering (length 1, no log
    // line), an unknown type, and two plain mouse answers.
    const std::vector<std::vector<uint8_t> > answers = {
        s.km_from_device({CMD_KM_KEYBOARD, 0x01, 0x11}), s.km_from_device({CMD_KM_MOUSE_REL, 0x01, 0x11}),
        enciphered_km({CMD_KM_USERID, 0x00}),          s.km_from_device({0x63, 0x05, 0x11}),
        s.km_from_device({CMD_KM_MOUSE_REL, 0x00, 0x11}), s.km_from_device({CMD_KM_MOUSE_REL, 0x00, 0x11}),
    };
    std::thread device([&] {
        for (const auto& a : answers) {
            std::vector<uint8_t> frame;
            if (!H264VideoSession::read_whole_frame(s.km, frame))
                return;
            s.km.send_bytes(a);
        }
    });
    const auto t0 = clock_type::now();
    const auto took = flush_all(w);
    const long total = elapsed_ms(t0);
    device.join();
    ASSERT_EQ(int(took.size()), n);
    // Six unanswered messages would take 1200 ms at least.
    EXPECT_LT(total, 900);

    ASSERT_TRUE(pump_until([&] { return log.contains("send mouse pos return failed."); }, 2000));
    EXPECT_TRUE(log.contains("send keyboard return failed."));
    EXPECT_FALSE(log.contains("km recv userID  ack,value="));
}

TEST(KmChannel, DestroyingTheWindowEndsTheReceiveThreadWhileTheDeviceKeepsSending)
{
    H264VideoSession s;
    ASSERT_TRUE(H264VideoTestPeer::kmConnected(*s.window));
    std::atomic<bool> flooding{true};
    std::thread device([&] {
        const auto answer = s.km_from_device({CMD_KM_MOUSE_REL, 0x00, 0x11});
        while (flooding.load() && s.km.send_bytes(answer)) {
        }
    });
    pump_for(100);
    const auto t0 = clock_type::now();
    s.window.reset();
    EXPECT_LT(elapsed_ms(t0), 2000);
    // The channel is closed on the device's side too.
    EXPECT_TRUE(s.km.wait_client_closed(2000));
    flooding.store(false);
    s.km.close_client();
    device.join();
}
