// The three receive threads and the media send thread against a loopback peer
// playing the device.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/log_capture.h"
#include "loopback_peer.h"
#include "tools/crypto/c_des.h"
#include "tools/socket/c_abs_net_handler.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_recv_km1.h"
#include "tools/socket/c_socket_recv_u.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"

namespace {

using bytes = std::vector<uint8_t>;

const uint8_t kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct Received
{
    const void* sender;
    bytes body;
    uint32_t plain_field;
};

// Records every dispatched frame; answers with a scripted status.
class RecordingHandler : public c_abs_net_handler
{
public:
    unsigned char on_net_msg(const void* sender, const unsigned char* body, unsigned int plain_len_field,
                             unsigned int body_len) override
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_got.push_back({sender, bytes(body, body + body_len), plain_len_field});
        unsigned char r = 0;
        if (!m_replies.empty()) {
            r = m_replies.front();
            m_replies.erase(m_replies.begin());
        }
        return r;
    }
    void script(std::vector<unsigned char> replies)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_replies = std::move(replies);
    }
    size_t count()
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_got.size();
    }
    Received at(size_t i)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return m_got.at(i);
    }

private:
    std::mutex m_mutex;
    std::vector<Received> m_got;
    std::vector<unsigned char> m_replies;
};

bytes clear_frame(const bytes& body)
{
    bytes f(FRAME_HEADER_LEN + body.size());
    uint32_t len = 0;
    frame_serialise({{static_cast<uint32_t>(body.size()), body.data()}}, f.data(), static_cast<uint32_t>(f.size()), &len);
    return f;
}

// A KM frame as the device sends it: body enciphered under key, plain length L.
bytes device_km_frame(const bytes& plain)
{
    bytes body = plain;
    body.resize(plain.size() + 8, 0);
    int len = static_cast<int>(plain.size());
    des_encrypt_frame(kKey, body.data(), body.data(), &len);
    body.resize(static_cast<size_t>(len));
    bytes f = {0xA5, 1, sum8(body.data(), static_cast<uint32_t>(body.size())), 0, 0, 0, 0, 0, 0, 0, 0};
    write_be32(&f[3], static_cast<uint32_t>(plain.size()));
    write_be32(&f[7], static_cast<uint32_t>(body.size()));
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

}  // namespace

TEST(KmReceive, BadChecksumIsDroppedAndTheNextFrameArrivesDeciphered)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    RecordingHandler handler;
    std::unique_ptr<c_socket_recv_km1, void (*)(c_socket_thread*)> km(new c_socket_recv_km1(sock),
                                                                       &c_socket_thread::destroy);
    km->set_key(kKey);
    km->set_handler(&handler);
    km->start();

    bytes bad = device_km_frame({3, 1});
    bad[2] = static_cast<uint8_t>(bad[2] + 1);
    ASSERT_TRUE(peer.send_bytes(bad));
    ASSERT_TRUE(peer.send_bytes(device_km_frame({50, 7, 9})));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 1; }));

    const Received r = handler.at(0);
    EXPECT_EQ(r.sender, km.get());
    EXPECT_EQ(r.body, (bytes{50, 7, 9}));
    EXPECT_EQ(r.plain_field, 0x03000000u);  // the big-endian 3 read little-endian

    // An answer whose value byte is 0 loses it to the padding rule.
    ASSERT_TRUE(peer.send_bytes(device_km_frame({50, 0})));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 2; }));
    EXPECT_EQ(handler.at(1).body, (bytes{50}));
    EXPECT_EQ(handler.count(), 2u);
}

TEST(KmReceive, PeerClosingMidBodyEndsWithTheCloseSignalAndNoDispatch)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    RecordingHandler handler;
    std::unique_ptr<c_socket_recv_km1, void (*)(c_socket_thread*)> km(new c_socket_recv_km1(sock),
                                                                       &c_socket_thread::destroy);
    std::atomic<bool> closed{false};
    QObject::connect(km.get(), &c_socket_recv_km1::socket_close, [&] { closed = true; });
    km->set_handler(&handler);
    km->start();

    bytes f = device_km_frame({3, 1, 2, 3, 4, 5, 6, 7, 8});
    f.resize(f.size() - 3);
    ASSERT_TRUE(peer.send_bytes(f));
    peer.close_client();
    ASSERT_TRUE(wait_until([&] { return km->isFinished(); }));
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(sock->is_open());
    EXPECT_EQ(handler.count(), 0u);
}

TEST(VideoReceive, OneByteWritesStrayBytesAndEncipheredStarts)
{
    LogCapture log;
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_VIDEO);
    auto* recv = static_cast<c_socket_recv_video*>(pair.recv_thread());
    recv->set_key(kKey);
    RecordingHandler handler;
    recv->set_handler(&handler);
    pair.start(QThread::InheritPriority, QThread::InheritPriority);

    // A stray byte, then a clear type-6 frame written one byte at a time.
    bytes body = {6, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00};
    bytes stream = {0x00};
    const bytes f = clear_frame(body);
    stream.insert(stream.end(), f.begin(), f.end());
    for (uint8_t b : stream)
        ASSERT_TRUE(peer.send_bytes(&b, 1));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 1; }));
    EXPECT_EQ(handler.at(0).body, body);
    EXPECT_EQ(handler.at(0).sender, recv);

    // Wire length 0: an empty body.
    ASSERT_TRUE(peer.send_bytes(clear_frame({})));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 2; }));
    EXPECT_TRUE(handler.at(1).body.empty());

    // First 12 bytes enciphered into 16: the handler sees the plain start.
    bytes enc(16, 0);
    std::copy(body.begin(), body.begin() + 12, enc.begin());
    int len = 12;
    des_encrypt_frame(kKey, enc.data(), enc.data(), &len);
    bytes wire = enc;
    wire.insert(wire.end(), body.begin() + 12, body.end());
    bytes ef = {0xA5, 1, sum8(wire.data(), static_cast<uint32_t>(wire.size())), 0, 0, 0, 20, 0, 0, 0, 0};
    write_be32(&ef[7], static_cast<uint32_t>(wire.size()));
    ef.insert(ef.end(), wire.begin(), wire.end());
    ASSERT_TRUE(peer.send_bytes(ef));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 3; }));
    EXPECT_EQ(handler.at(2).body, body);

    // A start that does not decipher to type 6 is dropped; the channel stays up.
    ef[11] ^= 0x5A;
    ASSERT_TRUE(peer.send_bytes(ef));
    ASSERT_TRUE(peer.send_bytes(clear_frame({4, 1})));
    ASSERT_TRUE(wait_until([&] { return handler.count() >= 4; }));
    EXPECT_EQ(handler.at(3).body, (bytes{4, 1}));
    EXPECT_TRUE(log.contains("video data header not 0x06"));

    pair.stop();
    EXPECT_TRUE(pair.recv_thread()->isFinished());
}

TEST(VideoReceive, PeerClosingMidHeaderEndsWithTheCloseSignal)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_VIDEO);
    auto* recv = static_cast<c_socket_recv_video*>(pair.recv_thread());
    RecordingHandler handler;
    recv->set_handler(&handler);
    std::atomic<bool> closed{false};
    QObject::connect(recv, &c_socket_recv_video::signal_socket_video_close, [&] { closed = true; });
    pair.start(QThread::InheritPriority, QThread::InheritPriority);

    ASSERT_TRUE(peer.send_bytes({0xA5, 1, 0, 0, 0}));
    peer.close_client();
    ASSERT_TRUE(wait_until([&] { return recv->isFinished(); }));
    EXPECT_TRUE(closed.load());
    EXPECT_FALSE(recv->run_flag());
    EXPECT_EQ(handler.count(), 0u);
}

TEST(VideoReceive, OversizedWireLengthClosesTheChannel)
{
    LogCapture log;
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_VIDEO);
    auto* recv = static_cast<c_socket_recv_video*>(pair.recv_thread());
    RecordingHandler handler;
    recv->set_handler(&handler);
    std::atomic<bool> closed{false};
    QObject::connect(recv, &c_socket_recv_video::signal_socket_video_close, [&] { closed = true; });
    pair.start(QThread::InheritPriority, QThread::InheritPriority);

    // 0xFFFFFFF0 bytes announced; a few follow.
    bytes f = {0xA5, 1, 0, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 0xF0, 6, 1, 2, 3};
    ASSERT_TRUE(peer.send_bytes(f));
    ASSERT_TRUE(wait_until([&] { return recv->isFinished(); }));
    EXPECT_TRUE(closed.load());
    EXPECT_TRUE(peer.wait_client_closed());
    EXPECT_EQ(handler.count(), 0u);
    EXPECT_TRUE(log.contains("exceeds the receive buffer"));
}

TEST(MediaChannel, AcknowledgementsRefusalsAndResend)
{
    LogCapture log;
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_MEDIA);
    RecordingHandler handler;
    pair.recv_thread()->set_handler(&handler);
    handler.script({5, 0});  // refuse the first answer, accept the second
    pair.start(QThread::HighestPriority, QThread::HighestPriority);

    CQUEUE_MESSAGE ask = build_msg_8(1, 0);
    const bytes ask_bytes(ask.data, ask.data + ask.length);
    q.push(ask);
    EXPECT_EQ(peer.recv_bytes(ask_bytes.size()), ask_bytes);

    // Refused: the same message comes again at once.
    ASSERT_TRUE(peer.send_bytes(clear_frame({8, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_EQ(peer.recv_bytes(ask_bytes.size()), ask_bytes);
    EXPECT_TRUE(wait_until([&] { return log.contains("wait ack failed,pak_ask"); }));

    // Accepted: popped and freed; nothing more is sent.
    ASSERT_TRUE(peer.send_bytes(clear_frame({8, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_TRUE(wait_until([&] { return q.size() == 0; }));
    EXPECT_TRUE(peer.recv_bytes(1, 300).empty());
    EXPECT_EQ(handler.count(), 2u);
    EXPECT_EQ(handler.at(0).sender, pair.recv_thread());

    // A message that nobody answers is sent again after the 2000 ms wait.
    CQUEUE_MESSAGE m7 = build_msg_7(1, 1, 1000);
    const bytes m7_bytes(m7.data, m7.data + m7.length);
    q.push(m7);
    EXPECT_EQ(peer.recv_bytes(m7_bytes.size()), m7_bytes);
    EXPECT_EQ(peer.recv_bytes(m7_bytes.size(), 5000), m7_bytes);
    EXPECT_TRUE(log.contains("wait ack failed,pak_Type=7"));

    // Stopping while the sender waits for an acknowledgement does not wait it out.
    pair.stop();
    EXPECT_TRUE(pair.send_thread()->isFinished());
    EXPECT_TRUE(pair.recv_thread()->isFinished());
    EXPECT_EQ(drain_and_free(q), 1);
}
