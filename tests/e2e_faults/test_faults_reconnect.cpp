// A device whose channels go away mid-session: closed, reset, refused for a
// while, or no longer reading. The viewer brings each channel back by itself,
// replays its opening in order, and keyboard input never waits on the media
// channel.
#include "fault_session.h"

namespace {

class Reconnect : public FaultSession
{
protected:
    // Names of the messages devsim received on channel since its nth
    // connection began (1-based), in order.
    QStringList received_since_connect(const char* channel, int nth) const
    {
        QStringList names;
        int connects = 0;
        for (const QJsonObject& o : events()) {
            if (o.value(QLatin1String("channel")).toString() != QLatin1String(channel))
                continue;
            const QString ev = o.value(QLatin1String("event")).toString();
            if (ev == QLatin1String("connect"))
                ++connects;
            else if (connects == nth && ev == QLatin1String("recv"))
                names << o.value(QLatin1String("fields")).toObject().value(QLatin1String("name")).toString();
        }
        return names;
    }

    bool type_reaches_device(Window w, const QStringList& keys, const QString& text, int timeout_ms)
    {
        viewer_ui ui(x(), QStringLiteral(KVM_SOURCE_DIR));
        x().move_pointer(x().geometry(w).center().x(), x().geometry(w).center().y());
        if (!ui.keys(w, keys))
            return false;
        return wait_until([&] { return device(QStringLiteral("status")).contains(text); }, timeout_ms, k_poll_ms);
    }
};

}  // namespace

TEST_F(Reconnect, KeyboardReachesTheDeviceWhileTheMediaChannelIsStalled)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);
    ASSERT_TRUE(device(QStringLiteral("stall media")).startsWith(QStringLiteral("ok")));
    // The next status request stays unacknowledged: the media send thread
    // now waits and sends it again every 2 s.
    ASSERT_TRUE(wait_log("wait ack failed,pak_ask", 15000));
    EXPECT_TRUE(type_reaches_device(w, {"q", "w", "e", "r", "t", "y"}, QStringLiteral("qwerty"), 1000));
    ASSERT_TRUE(device(QStringLiteral("unstall media")).startsWith(QStringLiteral("ok")));
    expect_alive_and_responsive(w);
    close_session(w);
}

TEST_F(Reconnect, EachChannelComesBackAfterACloseOrAResetWithItsOpeningReplayed)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);
    const char* letters[] = {"a", "b", "c", "d", "e", "f"};
    int round = 0;
    QString typed;
    for (const char* channel : {"video", "km", "media"}) {
        for (const char* how : {"close", "reset"}) {
            SCOPED_TRACE(std::string(how) + " " + channel);
            const int connects = count_events(channel, "connect");
            const int wholeReads = count_whole_reads();
            const QString reply = QString::fromLatin1(how) == QLatin1String("close")
                                      ? device(QStringLiteral("close %1").arg(QLatin1String(channel)))
                                      : fault(QString::fromLatin1(channel), QStringLiteral("reset"));
            ASSERT_TRUE(reply.startsWith(QStringLiteral("ok"))) << reply.toStdString();
            ASSERT_TRUE(wait_until([&] { return count_events(channel, "connect") > connects; }, 15000, k_poll_ms))
                << "the viewer did not connect again";
            const int nth = connects + 1;
            if (QString::fromLatin1(channel) == QLatin1String("km")) {
                ASSERT_TRUE(wait_until([&] { return received_since_connect("km", nth).size() >= 3; }, 5000, k_poll_ms));
                const QStringList got = received_since_connect("km", nth);
                EXPECT_EQ(got.mid(0, 3), (QStringList{"userid", "privilege-request", "keyboard"}));
            } else if (QString::fromLatin1(channel) == QLatin1String("video")) {
                ASSERT_TRUE(wait_until([&] { return !received_since_connect("video", nth).isEmpty(); }, 5000, k_poll_ms));
                EXPECT_EQ(received_since_connect("video", nth).first(), QStringLiteral("userid"));
            } else {
                // The remote computer finds its disk again, and reads it whole.
                ASSERT_TRUE(wait_until([&] { return count_whole_reads() > wholeReads; }, 60000, k_poll_ms))
                    << "devsim did not read the image again";
                const QStringList got = received_since_connect("media", nth);
                ASSERT_GE(got.size(), 4);
                EXPECT_EQ(got.mid(0, 4), (QStringList{"userid", "unmap", "map", "status"}));
                EXPECT_EQ(read_file(path("devsim-copy.img")), m_expected);
            }
            // Whatever went away, a picture is shown and typing arrives.
            EXPECT_TRUE(wait_until([&] { return shows_picture(w); }, 10000, k_poll_ms));
            const QString letter = QString::fromLatin1(letters[round++]);
            typed += letter;
            EXPECT_TRUE(type_reaches_device(w, {letter}, typed, 10000)) << typed.toStdString();
        }
    }
    expect_alive_and_responsive(w);
    close_session(w);
}

TEST_F(Reconnect, WhileTheDeviceRefusesTheWindowStillClosesAtOnce)
{
    const Window w = start_session();
    ASSERT_NE(w, 0u);
    ASSERT_TRUE(device(QStringLiteral("refuse 10000")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(wait_log("KM channel lost", 5000));
    ASSERT_TRUE(wait_log("video channel lost", 5000));
    expect_alive_and_responsive(w);
    close_session(w);
}
