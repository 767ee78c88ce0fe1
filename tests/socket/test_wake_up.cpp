// Waking send threads: the ticket that catches a wake given before the wait,
// pushes that wake the channel's send thread, the KM producer's handle to the
// media send thread, and small frames that leave without Nagle's hold-back.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <list>
#include <mutex>

#include "loopback_peer.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_net_syncer.h"
#include "tools/socket/c_socket_pair.h"
#include "tools/socket/c_socket_send_u.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wake_up.h"
#include "tools/socket/mt_queue.h"

namespace {

// Stands for the main window: KM messages in a list, handed out by sync().
class ListSyncer : public c_net_syncer
{
public:
    void queue_km(uint8_t type)
    {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_list.push_back(type);
        }
        wake_sync_thread();
    }
    bool sync() override
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (m_list.empty())
            return false;
        m_list.pop_front();
        ++sent;
        return true;
    }
    void sync_thread_lost() override { ++lost; }
    std::atomic<int> sent{0};
    std::atomic<int> lost{0};

private:
    std::mutex m_lock;
    std::list<uint8_t> m_list;
};

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

TEST(WakeUp, KmProducerWakesTheMediaSendThreadUntilItStops)
{
    LoopbackPeer peer;
    auto sock = connect_to(peer);
    ASSERT_TRUE(sock);
    media_pair m(sock);
    ListSyncer syncer;

    // Before the syncer is attached its wake goes nowhere.
    unsigned long t = m.wake.ticket();
    syncer.queue_km(3);
    EXPECT_EQ(m.wake.ticket(), t);

    m.send()->set_syncer(&syncer);
    t = m.wake.ticket();
    syncer.queue_km(5);
    EXPECT_TRUE(m.wake.wait_from(t, 10000));

    // Running, the thread flushes both messages through sync().
    m.start();
    ASSERT_TRUE(wait_until([&] { return syncer.sent.load() == 2; }, 10000));
    syncer.queue_km(44);
    ASSERT_TRUE(wait_until([&] { return syncer.sent.load() == 3; }, 10000));

    // Stopped, the thread no longer lends its wake-up object, which may go
    // with the channel's owner before the syncer does.
    m.pair->stop();
    t = m.wake.ticket();
    syncer.queue_km(3);
    EXPECT_EQ(m.wake.ticket(), t);
    m.pair.reset();
    syncer.queue_km(3);
}

TEST(WakeUp, TheSyncerHearsOnceOfASendThreadThatEndedWithItsChannel)
{
    // Attached before the start: told when the lost channel ends the thread.
    {
        LoopbackPeer peer;
        auto sock = connect_to(peer);
        ASSERT_TRUE(sock);
        media_pair m(sock);
        ListSyncer syncer;
        m.send()->set_syncer(&syncer);
        m.start();
        peer.close_client();  // the receive thread closes the socket
        EXPECT_TRUE(wait_until([&] { return syncer.lost.load() == 1; }, 10000));
        m.pair->stop();
        EXPECT_EQ(syncer.lost.load(), 1);
    }
    // Never connected, attached only after the thread has ended: told then.
    {
        media_pair m(std::make_shared<c_tcp_sock>());
        m.start();
        ASSERT_TRUE(wait_until([&] { return m.send()->isFinished(); }, 10000));
        ListSyncer syncer;
        m.send()->set_syncer(&syncer);
        EXPECT_EQ(syncer.lost.load(), 1);
    }
    // Stopped, not lost: not told.
    {
        LoopbackPeer peer;
        auto sock = connect_to(peer);
        ASSERT_TRUE(sock);
        ListSyncer syncer;
        {
            media_pair m(sock);
            m.send()->set_syncer(&syncer);
            m.start();
            m.pair->stop();
        }
        EXPECT_EQ(syncer.lost.load(), 0);
    }
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
