// The brief look before sleeping on stop-and-wait channels: when it gives up
// and looks again, acknowledgements caught while looking keep their meaning,
// and a spinning receive still sees late bytes, time-outs and a closed peer.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "loopback_peer.h"
#include "tools/socket/c_msg_builder.h"
#include "tools/socket/c_spin_wait.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/mt_queue.h"

using namespace std::chrono_literals;

TEST(SpinWait, GivesUpAfterMissesInARowAndLooksAgainEvery64thWait)
{
    c_spin_wait spin(100us);
    int looks = 0;
    bool answer = false;
    auto ready = [&] {
        ++looks;
        return answer;
    };

    // Misses that are not in a row do not stop the looking.
    EXPECT_FALSE(spin.spin(ready));
    EXPECT_FALSE(spin.spin(ready));
    answer = true;
    EXPECT_TRUE(spin.spin(ready));
    answer = false;
    EXPECT_FALSE(spin.spin(ready));
    EXPECT_FALSE(spin.spin(ready));
    EXPECT_TRUE(spin.spinning());

    // The third miss in a row stops it.
    EXPECT_FALSE(spin.spin(ready));
    EXPECT_FALSE(spin.spinning());

    // Then 63 waits go straight to sleep without a single look...
    looks = 0;
    answer = true;
    for (int i = 1; i < c_spin_wait::k_probe_every; ++i)
        EXPECT_FALSE(spin.spin(ready)) << i;
    EXPECT_EQ(looks, 0);
    // ...and the 64th looks; a catch there starts the looking again.
    EXPECT_TRUE(spin.spin(ready));
    EXPECT_EQ(looks, 1);
    EXPECT_TRUE(spin.spinning());
    EXPECT_TRUE(spin.spin(ready));
    EXPECT_EQ(looks, 2);
}

TEST(SpinWait, AcknowledgementsCaughtWhileLookingKeepTheirMeaning)
{
    // The device answers every message at once, refusing every third: each
    // wait must give exactly that answer, never a neighbour's.
    mt_queue<CQUEUE_MESSAGE> q;
    q.push(build_msg_8(0x01, 0x00));
    const int rounds = 3000;
    std::atomic<int> sent{-1};
    std::thread device([&] {
        for (int i = 0; i < rounds; ++i) {
            while (sent.load() < i)
                std::this_thread::yield();
            q.set_ack(i % 3 == 0 ? 4u : 2u);
        }
    });
    int wrong = 0;
    for (int i = 0; i < rounds; ++i) {
        sent.store(i);
        const bool accepted = q.wait_ack(5000);
        if (accepted != (i % 3 != 0))
            ++wrong;
    }
    device.join();
    EXPECT_EQ(wrong, 0);
    // Nothing is left over for a message sent after the last answer.
    EXPECT_FALSE(q.wait_ack(20));
    drain_and_free(q);
}

TEST(SpinWait, SpinningReceiveSeesLateBytesTimeOutsAndAClosedPeer)
{
    LoopbackPeer peer;
    std::shared_ptr<c_tcp_sock> s = connect_to(peer);
    ASSERT_TRUE(s);
    c_spin_wait spin;
    uint8_t buf[64];

    // Bytes already there.
    ASSERT_TRUE(peer.send_bytes({1, 2, 3}));
    int n = -1;
    for (int i = 0; i < 50 && n <= 0; ++i)
        n = s->tcp_recv_within(buf, sizeof buf, 100, &spin);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(buf[2], 3);

    // Nothing comes: a time-out, told apart from a close by errno.
    errno = 0;
    EXPECT_EQ(s->tcp_recv_within(buf, sizeof buf, 30, &spin), -1);
    EXPECT_EQ(errno, EAGAIN);

    // Bytes that come long after the look has given up still arrive.
    std::thread late([&] {
        std::this_thread::sleep_for(50ms);
        peer.send_bytes({9, 8});
    });
    n = -1;
    for (int i = 0; i < 50 && n < 0; ++i)
        n = s->tcp_recv_within(buf, sizeof buf, 100, &spin);
    late.join();
    ASSERT_EQ(n, 2);
    EXPECT_EQ(buf[0], 9);

    // The device closes: 0, not a time-out.
    peer.close_client();
    n = -1;
    for (int i = 0; i < 50 && n < 0; ++i)
        n = s->tcp_recv_within(buf, sizeof buf, 100, &spin);
    EXPECT_EQ(n, 0);
}
