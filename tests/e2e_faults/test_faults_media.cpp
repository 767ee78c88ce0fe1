// A broken or hostile device on the media channel: frames cut in the header
// and in the body (a sector's data, which must not be written), a reset
// connection, a wire length of 0xFFFFFFFF, a type-6 message claiming 4 GB,
// 10,000 garbage frames, a stall inside a frame, no acknowledgement at all,
// and status answers that wish to read beyond the disk's end or to write
// sector 0xFFFFFFFF.
#include "fault_session.h"

namespace {

class MediaFaults : public FaultSession
{
protected:
    bool wait_fault_done(int frames)
    {
        return wait_until(
            [&] {
                for (const QJsonObject& o : events())
                    if (o.value(QLatin1String("event")).toString() == QLatin1String("fault-done"))
                        return o.value(QLatin1String("frames")).toInt() == frames;
                return false;
            },
            60000, k_poll_ms);
    }
};

}  // namespace

TEST_F(MediaFaults, ChannelLostInAFrameOrToAnImpossibleLength)
{
    struct
    {
        const char* kind;
        const char* log;
    } cases[] = {
        {"close-header", "c_socket_recv_u: connection closed by the device in the middle of a frame"},
        {"close-body", "c_socket_recv_u: connection closed by the device in the middle of a frame"},
        {"reset", "c_socket_recv_u: connection lost: Connection reset by peer"},
        {"length-ffffffff", "frame wire length 4294967295 exceeds the receive buffer of 524288 bytes, channel closed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const Window w = start_session();
        ASSERT_NE(w, 0u);
        // The cut body is sector 0's data: it must not reach the disk.
        fault(QStringLiteral("media"), QString::fromLatin1(c.kind));
        EXPECT_TRUE(wait_log(c.log)) << c.log;
        // Back by itself, with the disk announced again.
        EXPECT_TRUE(wait_log("media channel back: the mapped disk is announced again"));
        expect_alive_and_responsive(w);
        EXPECT_TRUE(wait_until([&] { return shows_picture(w); }, 5000, k_poll_ms)) << "the picture went";
        close_session(w);
    }
}

TEST_F(MediaFaults, ClaimedPayloadGarbageAndAStallInsideAFrame)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);

    fault(QStringLiteral("media"), QStringLiteral("claim-4g"));
    EXPECT_TRUE(wait_log("media message type 0x06 of 76 bytes ignored"));
    expect_alive_and_responsive(w);
    EXPECT_TRUE(write_sectors(500, 8, 400));

    fault(QStringLiteral("media"), QStringLiteral("garbage 10000"));
    EXPECT_TRUE(wait_fault_done(10000)) << "the viewer did not take all the garbage";
    EXPECT_TRUE(wait_log("too short"));
    expect_alive_and_responsive(w);
    // The cycle goes on and writes land where they belong.
    EXPECT_TRUE(write_sectors(520, 40, 401, 60000));

    fault(QStringLiteral("media"), QStringLiteral("stall"));
    EXPECT_TRUE(wait_log("wait ack failed,", 10000));
    expect_alive_and_responsive(w);
    close_session(w);
}

TEST_F(MediaFaults, WishesTheDiskCannotServeAndNoAcknowledgement)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);

    struct
    {
        const char* wish;
        const char* log;
    } wishes[] = {
        {"read 2040 16", "wish of 16 sectors from 2040 not served: the disk has 2048 sectors"},
        {"read 4294967280 65535", "wish of 65535 sectors from 4294967280 not served"},
        {"write 4294967295 1", "wish of 1 sectors from 4294967295 not served"},
        {"write 4294967294 3", "wish of 3 sectors from 4294967294 not served"},
    };
    int n = 0;
    for (const auto& c : wishes) {
        SCOPED_TRACE(c.wish);
        fault(QStringLiteral("media"), QStringLiteral("wish ") + QString::fromLatin1(c.wish));
        EXPECT_TRUE(wait_log(c.log, 10000)) << c.log;
        expect_alive_and_responsive(w);
        // The viewer asks again and the device's next wish is served.
        EXPECT_TRUE(write_sectors(800 + 8 * n, 8, 500 + uint32_t(n)));
        ++n;
    }

    // A device that acknowledges nothing: the message in flight is sent
    // again every 2 s, and the window stays usable.
    fault(QStringLiteral("media"), QStringLiteral("mute"));
    EXPECT_TRUE(wait_log("wait ack failed,", 10000));
    expect_alive_and_responsive(w);
    close_session(w);
}
