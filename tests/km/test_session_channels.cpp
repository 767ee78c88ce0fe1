// The KM and video channel classes without any window: what each sends on a
// connection, in order, and that a connection the device drops is made again
// with the opening replayed (and, on KM, everything let go first).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>
#include <random>

#include "c_devsim_frames.h"
#include "common/h264video_session.h"
#include "common/wait_until.h"
#include "session/c_km_channel.h"
#include "session/c_video_channel.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/key_mouse/km_messages.h"

namespace {

c_km_channel::config km_config(uint16_t port)
{
    c_km_channel::config cfg;
    cfg.ip = "127.0.0.1";
    cfg.port = port;
    cfg.user_id = 42;
    std::mt19937 rng(std::random_device{}());
    for (int i = 0; i < 8; ++i) {
        cfg.out_key[i] = uint8_t(rng());
        cfg.in_key[i] = uint8_t(rng());
    }
    // km_plain_body() deciphers with the session keys.
    std::memcpy(g_para.desDecode.key, cfg.out_key, 8);
    std::memcpy(g_para.desEncode.key, cfg.in_key, 8);
    return cfg;
}

// The next n KM bodies the device reads, each answered so the next one leaves.
std::vector<std::vector<uint8_t> > read_answered(LoopbackPeer& peer, int n)
{
    std::vector<std::vector<uint8_t> > bodies;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> frame;
        if (!H264VideoSession::read_whole_frame(peer, frame))
            break;
        bodies.push_back(km_plain_body(frame));
        const uint8_t answer[3] = {bodies.back().empty() ? uint8_t(0) : bodies.back()[0], 0, 0x11};
        peer.send_bytes(c_devsim_frames::km_enciphered(answer, 3, g_para.desEncode.key));
    }
    return bodies;
}

}  // namespace

TEST(SessionChannels, KmOpensInOrderAndReplaysTheOpeningWithEverythingLetGo)
{
    LoopbackPeer device;
    c_km_channel ch(km_config(device.port()));
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    const unsigned char key[KM_KEYBOARD_LEN] = {0, 0, 0x1B, 0, 0, 0, 0, 0};
    ASSERT_TRUE(ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, key));

    const auto first = read_answered(device, 3);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0], (std::vector<uint8_t>{CMD_KM_USERID, 0, 0, 0, 42}));
    EXPECT_EQ(first[1], (std::vector<uint8_t>{CMD_KM_PRIVILEGE, 0}));
    EXPECT_EQ(first[2][0], CMD_KM_KEYBOARD);

    // The device drops the connection: the channel connects again by itself.
    device.close_client();
    ASSERT_TRUE(device.accept_client(10000));
    const auto again = read_answered(device, 4);
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[0], (std::vector<uint8_t>{CMD_KM_USERID, 0, 0, 0, 42}));
    EXPECT_EQ(again[1], (std::vector<uint8_t>{CMD_KM_PRIVILEGE, 0}));
    EXPECT_EQ(again[2], (std::vector<uint8_t>{CMD_KM_KEYBOARD, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(again[3], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 0, 0, 0, 0}));
    EXPECT_TRUE(wait_until([&] { return ch.state() == channel_state::connected; }, 5000));
    EXPECT_GE(ch.reconnect_attempts(), 1);
    ch.stop();
}

TEST(SessionChannels, KmGivesUpADeviceOnlyWhenItsKeepAliveAnswersStop)
{
    // Times shortened from 10 s and 30 s; the rules are the same.
    LoopbackPeer device;
    c_km_channel::config cfg = km_config(device.port());
    cfg.keepalive_period_ms = 100;
    cfg.keepalive_loss_ms = 400;
    c_km_channel ch(cfg);
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    ASSERT_EQ(read_answered(device, 2).size(), 2u);  // user id, privilege request

    // A device that never answers keep-alives keeps its connection: five
    // keep-alives (longer than the loss time) arrive on the first one.
    const std::vector<uint8_t> keepalive{CMD_KM_KEEPALIVE, 0};
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame;
        ASSERT_TRUE(H264VideoSession::read_whole_frame(device, frame));
        EXPECT_EQ(km_plain_body(frame), keepalive);
    }
    EXPECT_EQ(ch.reconnect_attempts(), 0);

    // Once it has answered one and then falls silent, with the connection
    // still open, the channel gives it up and connects again.
    const auto answered = read_answered(device, 1);
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0], keepalive);
    ASSERT_TRUE(device.accept_client(10000));
    EXPECT_GE(ch.reconnect_attempts(), 1);
    ch.stop();
}

TEST(SessionChannels, VideoStartsEachConnectionWithTheUserIdAndANewPipeline)
{
    LoopbackPeer device;
    c_video_channel::config cfg;
    cfg.ip = "127.0.0.1";
    cfg.port = device.port();
    cfg.user_id = 7;
    c_video_channel ch(cfg);
    std::atomic<int> pipelines{0};
    ch.set_pipeline_handler([&](const std::shared_ptr<c_video_pipeline>&) { ++pipelines; });
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    std::vector<uint8_t> body;
    ASSERT_TRUE(H264VideoSession::read_frame(device, body));
    EXPECT_EQ(body, (std::vector<uint8_t>{50, 0, 0, 0, 7}));
    const std::shared_ptr<c_video_pipeline> before = ch.pipeline();

    device.close_client();
    ASSERT_TRUE(device.accept_client(10000));
    ASSERT_TRUE(H264VideoSession::read_frame(device, body));
    EXPECT_EQ(body, (std::vector<uint8_t>{50, 0, 0, 0, 7}));
    EXPECT_TRUE(wait_until([&] { return ch.state() == channel_state::connected; }, 5000));
    EXPECT_NE(ch.pipeline(), before);
    EXPECT_EQ(pipelines.load(), 2);
    ch.stop();
}
