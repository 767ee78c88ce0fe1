// A broken or hostile device on the KM channel: frames cut in the header and
// in the body, a reset connection, a wire length of 0xFFFFFFFF, a type-6
// message claiming 4 GB, 10,000 garbage frames and a stall inside a frame.
// KM messages travel on the media send thread, so the disk is watched too.
#include "fault_session.h"

namespace {

class KmFaults : public FaultSession
{
protected:
    // Types text into the viewer's window; true when devsim's remote
    // computer received it.
    bool type_reaches_device(Window w, const QStringList& keys, const QString& text)
    {
        viewer_ui ui(x(), QStringLiteral(KVM_SOURCE_DIR));
        x().move_pointer(x().geometry(w).center().x(), x().geometry(w).center().y());
        if (!ui.keys(w, keys))
            return false;
        return wait_until([&] { return device(QStringLiteral("status")).contains(text); }, 10000, k_poll_ms);
    }

    // Moves the pointer over the picture a step at a time (the viewer samples
    // it into mouse reports) until cond holds; false after timeout_ms.
    bool wiggle_until(Window w, const std::function<bool()>& cond, int timeout_ms = 10000)
    {
        const QPoint c = x().geometry(w).center();
        const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
        for (int i = 0; clock_type::now() < end; ++i) {
            x().move_pointer(c.x() + 7 * (i % 20), c.y() + 5 * (i % 20));
            if (wait_until(cond, 100, 20))
                return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(KmFaults, ChannelLostInAFrameOrToAnImpossibleLength)
{
    struct
    {
        const char* kind;
        const char* log;
    } cases[] = {
        {"close-header", "c_socket_recv_km1: connection closed by the device in the middle of a frame"},
        {"close-body", "c_socket_recv_km1: connection closed by the device in the middle of a frame"},
        {"reset", "c_socket_recv_km1: connection lost: Connection reset by peer"},
        {"length-ffffffff", "frame wire length 4294967295 exceeds the receive buffer of 524288 bytes, channel closed"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const Window w = start_session();
        ASSERT_NE(w, 0u);
        fault(QStringLiteral("km"), QString::fromLatin1(c.kind));
        EXPECT_TRUE(wait_log(c.log)) << c.log;
        expect_alive_and_responsive(w);
        // The channel comes back by itself and input reaches the device again;
        // the disk works all along.
        EXPECT_TRUE(wait_log("KM channel connected again"));
        const QString digit = QString::number(n);
        EXPECT_TRUE(type_reaches_device(w, {QStringLiteral("z"), QStringLiteral("x"), digit},
                                        QStringLiteral("zx") + digit));
        EXPECT_TRUE(write_sectors(600 + 16 * n, 16, 200 + uint32_t(n)));
        EXPECT_TRUE(shows_picture(w));
        close_session(w);
        ++n;
    }
}

TEST_F(KmFaults, ClaimedPayloadGarbageAndAStallInsideAFrame)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);

    fault(QStringLiteral("km"), QStringLiteral("claim-4g"));
    EXPECT_TRUE(wait_log("KM message type 6 of 76 bytes ignored"));
    expect_alive_and_responsive(w);
    EXPECT_TRUE(type_reaches_device(w, {QStringLiteral("a"), QStringLiteral("b")}, QStringLiteral("ab")));

    fault(QStringLiteral("km"), QStringLiteral("garbage 10000"));
    EXPECT_TRUE(wait_until(
        [&] {
            for (const QJsonObject& o : events())
                if (o.value(QLatin1String("event")).toString() == QLatin1String("fault-done"))
                    return o.value(QLatin1String("frames")).toInt() == 10000;
            return false;
        },
        60000, k_poll_ms))
        << "the viewer did not take all the garbage";
    EXPECT_TRUE(wait_log("with a wrong checksum dropped"));
    EXPECT_GT(log_count("KM message type"), 0);
    EXPECT_TRUE(wait_log("left out in one second"));
    EXPECT_LT(log_count("KM message type"), 5000);
    expect_alive_and_responsive(w);
    // Nothing of it reached the session: keys still go out, the disk works.
    EXPECT_TRUE(type_reaches_device(w, {QStringLiteral("c"), QStringLiteral("d")}, QStringLiteral("abcd")));
    EXPECT_TRUE(write_sectors(640, 8, 300));

    fault(QStringLiteral("km"), QStringLiteral("stall"));
    EXPECT_TRUE(wiggle_until(
        w, [&] { return log_text().contains(QStringLiteral("no KM answer from the device within 200 ms")); }));
    expect_alive_and_responsive(w);
    // Each unanswered report holds the media messages back 200 ms at most.
    EXPECT_TRUE(write_sectors(660, 8, 301, 60000));
    close_session(w);
}
