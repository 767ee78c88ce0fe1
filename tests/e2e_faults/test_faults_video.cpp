// A broken or hostile device on the video channel: frames cut in the header
// and in the body, a reset connection, a wire length of 0xFFFFFFFF, a type-6
// message claiming 4 GB, 10,000 garbage frames and a stall inside a frame.
#include "fault_session.h"

namespace {

const char* const k_no_signal = "no picture from the device for 1000 ms: no signal";

class VideoFaults : public FaultSession
{
};

}  // namespace

TEST_F(VideoFaults, ChannelLostInAFrameOrToAnImpossibleLength)
{
    struct
    {
        const char* kind;
        const char* log;
    } cases[] = {
        {"close-header", "c_socket_recv_video: connection closed by the device in the middle of a frame"},
        {"close-body", "c_socket_recv_video: connection closed by the device in the middle of a frame"},
        {"reset", "c_socket_recv_video: connection lost: Connection reset by peer"},
        {"length-ffffffff", "frame wire length 4294967295 exceeds the receive buffer of 524288 bytes, channel closed"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const Window w = start_session();
        ASSERT_NE(w, 0u);
        fault(QStringLiteral("video"), QString::fromLatin1(c.kind));
        EXPECT_TRUE(wait_log(c.log)) << c.log;
        // The channel comes back by itself, and with it the pictures.
        EXPECT_TRUE(wait_log("video channel connected again"));
        EXPECT_TRUE(wait_until([&] { return shows_picture(w); }, 20000, k_poll_ms));
        expect_alive_and_responsive(w);
        // The other channels go on: devsim still writes to the disk.
        EXPECT_TRUE(write_sectors(600 + 16 * n, 16, 200 + uint32_t(n)));
        close_session(w);
        ++n;
    }
}

TEST_F(VideoFaults, ClaimedPayloadGarbageAndAStallInsideAFrame)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);

    // 12 header bytes and 64 payload bytes that claim 0xFFFFFFFF.
    fault(QStringLiteral("video"), QStringLiteral("claim-4g"));
    EXPECT_TRUE(wait_log("video message type 6 of 76 bytes ignored: wrong length"));
    expect_alive_and_responsive(w);

    fault(QStringLiteral("video"), QStringLiteral("garbage 10000"));
    EXPECT_TRUE(wait_until(
        [&] {
            for (const QJsonObject& o : events())
                if (o.value(QLatin1String("event")).toString() == QLatin1String("fault-done"))
                    return o.value(QLatin1String("frames")).toInt() == 10000;
            return false;
        },
        60000, k_poll_ms))
        << "the viewer did not take all the garbage";
    EXPECT_TRUE(wait_log("video data header not 0x06"));
    // Each message is dropped, but the log takes only a few a second of
    // them and counts the rest: such a flood cannot fill the disk.
    EXPECT_GT(log_count("ignored: wrong length"), 0);
    EXPECT_TRUE(wait_log("left out in one second"));
    EXPECT_LT(log_count("ignored: wrong length"), 5000);
    expect_alive_and_responsive(w);
    // The viewer kept the channel and shows devsim's pictures again.
    EXPECT_TRUE(device(QStringLiteral("status")).contains(QStringLiteral("\"video\":true")));
    EXPECT_TRUE(wait_until([&] { return shows_picture(w); }, 20000, k_poll_ms));

    const int outages = log_count(k_no_signal);
    fault(QStringLiteral("video"), QStringLiteral("stall"));
    EXPECT_TRUE(wait_until([&] { return log_count(k_no_signal) > outages; }, 5000, k_poll_ms));
    expect_alive_and_responsive(w);
    EXPECT_TRUE(write_sectors(700, 8, 300));
    close_session(w);
}
