// Queue, acknowledgement, events, and the lifecycle of a channel's threads.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/ioctl.h>

#include <thread>

#include "loopback_peer.h"
#include "tools/socket/c_event.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_socket_send_video.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/mt_queue.h"

namespace {

using clock_type = std::chrono::steady_clock;

long long ms_since(clock_type::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t).count();
}

CQUEUE_MESSAGE heap_message(uint8_t fill, uint32_t len = 32)
{
    uint8_t* buf = new uint8_t[len];
    std::fill(buf, buf + len, fill);
    return CQUEUE_MESSAGE(len, buf, 0, "noUse");
}

}  // namespace

TEST(Event, AutoAndManualReset)
{
    c_event automatic(false, false);
    EXPECT_FALSE(automatic.wait(0));
    automatic.set();
    EXPECT_TRUE(automatic.wait(0));
    EXPECT_FALSE(automatic.wait(10));  // consumed by the first wait

    c_event manual(true, true);
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(10));

    // A waiter on another thread is released by set().
    std::atomic<bool> got{false};
    std::thread t([&] { got = automatic.wait(5000); });
    automatic.set();
    t.join();
    EXPECT_TRUE(got.load());
}

TEST(QueueMessage, PackedRecordAndSharedBufferOnCopy)
{
    EXPECT_EQ(sizeof(CQUEUE_MESSAGE), 4u + 8u + 1u + CQUEUE_MESSAGE::TAG_SIZE + 4u + 1u + 4u);
    CQUEUE_MESSAGE a = heap_message(7);
    CQUEUE_MESSAGE b = a;
    EXPECT_EQ(static_cast<uint8_t*>(a.data), static_cast<uint8_t*>(b.data));
    EXPECT_EQ(int32_t(b.reserved), -1);
    EXPECT_EQ(uint32_t(b.ack_status), 0u);
    a.set_tag("a tag longer than the record can hold");
    EXPECT_EQ(std::string(a.tag).size(), size_t(CQUEUE_MESSAGE::TAG_SIZE - 1));
    b.free_data();
    EXPECT_TRUE(b.empty());
}

TEST(Queue, FifoOrderStableFrontAndEmptyQueue)
{
    mt_queue<CQUEUE_MESSAGE> q;
    EXPECT_EQ(q.ack_status(), 3u);
    CQUEUE_MESSAGE out;
    EXPECT_FALSE(q.pop(out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(q.front().empty());

    q.push(heap_message(1));
    CQUEUE_MESSAGE& head = q.front();
    uint8_t* head_data = head.data;
    for (int i = 2; i <= 200; ++i)
        q.push(heap_message(static_cast<uint8_t>(i)));
    // The reference survives pushes behind it.
    EXPECT_EQ(static_cast<uint8_t*>(head.data), head_data);
    EXPECT_EQ(head.data[0], 1);
    EXPECT_EQ(q.size(), 200);
    EXPECT_EQ(q.ack_status(), 0u);

    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(q.pop(out));
        EXPECT_EQ(out.data[0], i);
        out.free_data();
    }
    // Draining frees every remaining buffer (checked by the leak sanitizer).
    EXPECT_EQ(drain_and_free(q), 197);
    EXPECT_EQ(q.size(), 0);
    EXPECT_EQ(drain_and_free(q), 0);
}

TEST(Queue, AcknowledgementStatusesAndWaits)
{
    mt_queue<CQUEUE_MESSAGE> q;
    q.push(heap_message(1));

    // Accepted: status written, one wait succeeds, the flag is then cleared.
    q.set_ack(2);
    EXPECT_EQ(q.ack_status(), 2u);
    EXPECT_TRUE(q.wait_ack(2000));
    EXPECT_FALSE(q.wait_ack(10));

    // Refused while the sender waits: the wait ends at once with false.
    std::atomic<int> result{-1};
    std::atomic<long long> waited{0};
    std::thread sender([&] {
        const auto t0 = clock_type::now();
        result = q.wait_ack(2000) ? 1 : 0;
        waited = ms_since(t0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the sender block
    q.set_ack(4);
    sender.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(waited.load(), 1500) << "a refusal must not wait for the time-out";
    EXPECT_EQ(q.ack_status(), 4u);

    // An acceptance releases a waiting sender with true.
    std::thread sender2([&] { result = q.wait_ack(5000) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.set_ack(2);
    sender2.join();
    EXPECT_EQ(result.load(), 1);

    // cancel_wait releases a waiter without acknowledging.
    std::thread sender3([&] { result = q.wait_ack(5000) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.cancel_wait();
    sender3.join();
    EXPECT_EQ(result.load(), 0);

    // No acknowledgement: time-out gives false.
    EXPECT_FALSE(q.wait_ack(20));
    drain_and_free(q);
}

TEST(SocketPair, KindsWithoutThreadsAndFactoryLifetime)
{
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    auto sock = std::make_shared<c_tcp_sock>();
    for (int kind : {0, int(SOCKET_KIND_KM), 4, 99}) {
        c_socket_pair pair(sock, &q, &wake, kind);
        EXPECT_FALSE(pair.send_thread()) << kind;
        EXPECT_FALSE(pair.recv_thread()) << kind;
        pair.start(QThread::InheritPriority, QThread::InheritPriority);
        pair.stop();
    }
    c_socket_pair video(sock, &q, &wake, SOCKET_KIND_VIDEO);
    EXPECT_TRUE(dynamic_cast<c_socket_send_video*>(video.send_thread()));
    EXPECT_TRUE(dynamic_cast<c_socket_recv_video*>(video.recv_thread()));
    c_socket_pair media(sock, &q, &wake, SOCKET_KIND_MEDIA);
    EXPECT_TRUE(dynamic_cast<c_socket_send_u*>(media.send_thread()));
    EXPECT_FALSE(media.send_thread()->isRunning());  // created, not started
}

TEST(SocketPair, PushedMessageIsSentWhileTheThreadPolls)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_VIDEO);
    pair.start(QThread::InheritPriority, QThread::InheritPriority);
    ASSERT_TRUE(wait_until([&] { return pair.send_thread()->isRunning(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // into its idle wait

    q.push(build_msg_50(1));
    const auto got = peer.recv_bytes(16);
    EXPECT_EQ(got, (std::vector<uint8_t>{0xA5, 1, 0x33, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 1}));
    EXPECT_TRUE(wait_until([&] { return q.size() == 0; }));

    // Stop, then drain what is left (never sent, freed).
    pair.stop();
    EXPECT_TRUE(pair.send_thread()->isFinished());
    EXPECT_TRUE(pair.recv_thread()->isFinished());
    q.push(build_msg_31(0));
    q.push(build_msg_32(0, 1));
    EXPECT_EQ(drain_and_free(q), 2);
}

TEST(SocketPair, StopEndsAReceiveBlockedInsideAFrame)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    auto pair = std::make_unique<c_socket_pair>(sock, &q, &wake, SOCKET_KIND_VIDEO);
    std::atomic<bool> closed_signal{false};
    auto* recv = static_cast<c_socket_recv_video*>(pair->recv_thread());
    QObject::connect(recv, &c_socket_recv_video::signal_socket_video_close, [&] { closed_signal = true; });
    pair->start(QThread::InheritPriority, QThread::InheritPriority);

    // Header announcing 100 bytes, then only 10 of them.
    std::vector<uint8_t> partial = {0xA5, 1, 0, 0, 0, 0, 100, 0, 0, 0, 100};
    partial.resize(partial.size() + 10, 6);
    ASSERT_TRUE(peer.send_bytes(partial));
    // Wait until the receive thread has taken every byte: it is now inside recv.
    ASSERT_TRUE(wait_until([&] {
        int pending = -1;
        return ioctl(sock->get_handle(), FIONREAD, &pending) == 0 && pending == 0;
    }));

    pair->stop();
    EXPECT_TRUE(pair->recv_thread()->isFinished());
    EXPECT_TRUE(pair->send_thread()->isFinished());
    EXPECT_FALSE(closed_signal.load()) << "our own stop is no peer close";
    EXPECT_TRUE(peer.wait_client_closed());

    // Stopping threads that have already ended returns at once.
    const auto t0 = clock_type::now();
    pair->stop();
    EXPECT_LT(ms_since(t0), 500);
    pair.reset();
}

TEST(SocketPair, ThreadsEndedOnTheirOwnAreStoppedAtOnce)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    c_socket_pair pair(sock, &q, &wake, SOCKET_KIND_VIDEO);
    pair.start(QThread::InheritPriority, QThread::InheritPriority);

    // The peer closes: the receive thread closes the socket and ends; the send
    // thread ends on the next queued message.
    peer.close_client();
    ASSERT_TRUE(wait_until([&] { return pair.recv_thread()->isFinished(); }));
    EXPECT_FALSE(sock->is_open());
    q.push(build_msg_50(2));
    ASSERT_TRUE(wait_until([&] { return pair.send_thread()->isFinished(); }));

    const auto t0 = clock_type::now();
    pair.stop();
    EXPECT_LT(ms_since(t0), 500);
    EXPECT_EQ(drain_and_free(q), 1);
}
