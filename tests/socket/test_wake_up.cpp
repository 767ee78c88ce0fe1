// Waking send threads: the ticket that catches a wake given before the wait,
// pushes that wake the channel's send thread, small frames that leave without
// Nagle's hold-back, and sends that give up on a peer that stopped reading.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <list>
#include <vector>
#include <mutex>

#include "loopback_peer.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/mt_queue.h"

namespace {

// A media channel's thread pair over sock, with its queue and wake-up
// object; whatever is left queued is freed at the end.
struct media_pair
{
    explicit media_pair(std::shared_ptr<c_tcp_sock> sock)
        : pair(std::make_unique<c_socket_pair>(std::move(sock), &q, &wake, SOCKET_KIND_MEDIA))
    {
    }
    ~media_pair()
    {
        pair.reset();
        drain_and_free(q);
    }
    c_socket_send_u* send() const { return static_cast<c_socket_send_u*>(pair->send_thread()); }
    void start() { pair->start(QThread::InheritPriority, QThread::InheritPriority); }

    mt_queue<CQUEUE_MESSAGE> q;
    c_wake_up wake;
    std::unique_ptr<c_socket_pair> pair;
};

}  // namespace

TEST(WakeUp, TicketCatchesAWakeGivenBeforeTheWait)
{
    c_wake_up w;
    const unsigned long before = w.ticket();
    EXPECT_FALSE(w.wait_from(before, 1));  // nothing happened since the ticket
    w.wake_all();
    // The wake came between the ticket and the wait: the wait returns at once
    // (a lost wake would show as false after ten seconds).
    EXPECT_TRUE(w.wait_from(before, 10000));
    EXPECT_NE(w.ticket(), before);
    // The plain wait only counts wakes after it starts.
    EXPECT_FALSE(w.wait(1));
}

TEST(WakeUp, PushWakesTheSendThreadOfItsChannelOnly)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);

    // A queue with no pair wakes nobody.
    mt_queue<CQUEUE_MESSAGE> loose;
    c_wake_up unrelated;
    const unsigned long t0 = unrelated.ticket();
    loose.push(build_msg_50(1));
    EXPECT_EQ(unrelated.ticket(), t0);
    EXPECT_EQ(drain_and_free(loose), 1);

    for (int kind : {SOCKET_KIND_VIDEO, SOCKET_KIND_MEDIA}) {
        mt_queue<CQUEUE_MESSAGE> q;
        c_wake_up wake;
        c_socket_pair pair(sock, &q, &wake, kind);  // threads made, not started
        const unsigned long t = wake.ticket();
        q.push(build_msg_50(7));
        EXPECT_TRUE(wake.wait_from(t, 10000)) << "kind " << kind;
        EXPECT_EQ(drain_and_free(q), 1);
    }
}

TEST(WakeUp, SendGivesUpOnAPeerThatStoppedReading)
{
    // A device that stops reading must not hold a send thread for ever: the
    // send fails after its time-out and closes the connection (a frame cut
    // short could not be finished without corrupting the stream).
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    sock->set_send_timeout(300);
    std::vector<uint8_t> chunk(1 << 20, 0x5A);
    int result = 1;
    for (int i = 0; i < 256 && result == 1; ++i)
        result = sock->tcp_send(chunk.data(), int(chunk.size()));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_FALSE(sock->is_open());
}

TEST(WakeUp, ClientSocketsSendSmallFramesAtOnce)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    int on = 0;
    socklen_t len = sizeof on;
    ASSERT_EQ(getsockopt(sock->get_handle(), IPPROTO_TCP, TCP_NODELAY, &on, &len), 0);
    EXPECT_NE(on, 0);
}
