// The "fault" command: the bytes each fault puts on the wire (cut frames, a
// connection reset, impossible lengths), garbage that stays in step and never
// touches the session, and hostile media wishes.
#include <cerrno>

#include "devsim_fixture.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"

#include "c_devsim_faults.h"

namespace {

// Everything a raw connection receives until the device closes it, resets it
// or stays silent for quiet_ms.
struct raw_read
{
    std::vector<uint8_t> bytes;
    bool closed = false;  // orderly end (FIN)
    int error = 0;        // errno of a failed receive (ECONNRESET)
};

raw_read read_raw(c_tcp_sock& s, int quiet_ms)
{
    raw_read r;
    uint8_t buf[4096];
    for (;;) {
        if (s.wait_readable(quiet_ms) <= 0)
            return r;
        const int n = s.tcp_recv(buf, sizeof buf, 0);
        if (n > 0) {
            r.bytes.insert(r.bytes.end(), buf, buf + n);
            continue;
        }
        if (n == 0)
            r.closed = true;
        else
            r.error = errno;
        return r;
    }
}

bool connect_raw(c_tcp_sock& s, uint16_t port)
{
    s.startup();
    s.set_address("127.0.0.1", port);
    return s.create_sock(nullptr, 0, 2000) == 1;
}

}  // namespace

TEST_F(DevsimTest, FaultsCutFramesCloseAndResetConnections)
{
    c_devsim_options o = defaults();
    o.fps = 1;  // few pictures between the video faults
    start(o);
    EXPECT_TRUE(m_dev->command(QStringLiteral("fault km reset")).startsWith(QStringLiteral("error km has no viewer")));
    EXPECT_TRUE(m_dev->command(QStringLiteral("fault disk reset")).startsWith(QStringLiteral("error usage")));

    for (uint16_t port : {m_dev->port_km(), m_dev->port_media()}) {
        const QString ch = port == m_dev->port_km() ? QStringLiteral("km") : QStringLiteral("media");
        SCOPED_TRACE(ch.toStdString());
        struct
        {
            const char* kind;
            size_t bytes;  // 0: any
            bool closed;
            int error;
        } cases[] = {{"close-header", 6, true, 0}, {"close-body", 0, true, 0}, {"reset", 0, false, ECONNRESET}};
        for (auto& c : cases) {
            SCOPED_TRACE(c.kind);
            c_tcp_sock s;
            ASSERT_TRUE(connect_raw(s, port));
            ASSERT_TRUE(wait_for([&] { return m_dev->command(QStringLiteral("status")).contains(ch + "\":true"); }));
            ASSERT_TRUE(m_dev->command(QStringLiteral("fault %1 %2").arg(ch, QLatin1String(c.kind)))
                            .startsWith(QStringLiteral("ok")));
            const raw_read r = read_raw(s, 5000);
            EXPECT_EQ(r.closed, c.closed);
            EXPECT_EQ(r.error, c.error);
            if (c.bytes) {
                EXPECT_EQ(r.bytes.size(), c.bytes);
            }
            if (std::string(c.kind) == "close-body") {
                // A whole header announcing more body than ever came.
                ASSERT_GT(r.bytes.size(), size_t(FRAME_HEADER_LEN));
                EXPECT_EQ(r.bytes[0], FRAME_SYNC);
                EXPECT_LT(r.bytes.size(), FRAME_HEADER_LEN + frame_wire_len(r.bytes.data()));
            }
            if (c.bytes) {
                EXPECT_EQ(r.bytes[0], FRAME_SYNC);
            }
        }
    }

    // Impossible lengths on a connection that stays open.
    scripted_channel media;
    ASSERT_TRUE(media.connect(m_dev->port_media()));
    ASSERT_TRUE(wait_for([&] { return m_dev->command(QStringLiteral("status")).contains("media\":true"); }));
    ASSERT_TRUE(m_dev->command(QStringLiteral("fault media claim-4g")).startsWith(QStringLiteral("ok")));
    received_frame f;
    ASSERT_TRUE(media.next(f));
    ASSERT_EQ(f.type(), 6);
    EXPECT_EQ(read_be32(f.body.data() + 8), 0xFFFFFFFFu);
    EXPECT_EQ(f.body.size(), 12u + 64u);
    ASSERT_TRUE(m_dev->command(QStringLiteral("fault media length-ffffffff")).startsWith(QStringLiteral("ok")));
    EXPECT_FALSE(media.next(f, 2000)) << "a reader with a bound refuses the frame";
    EXPECT_FALSE(media.closed());
    media.close();

    // A stall: half a frame, then nothing, though the device still reads.
    c_tcp_sock km;
    ASSERT_TRUE(connect_raw(km, m_dev->port_km()));
    ASSERT_TRUE(wait_for([&] { return m_dev->command(QStringLiteral("status")).contains("km\":true"); }));
    ASSERT_TRUE(m_dev->command(QStringLiteral("fault km stall")).startsWith(QStringLiteral("ok")));
    const raw_read half = read_raw(km, 1000);
    ASSERT_GT(half.bytes.size(), size_t(FRAME_HEADER_LEN));
    EXPECT_LT(half.bytes.size(), FRAME_HEADER_LEN + frame_wire_len(half.bytes.data()));
    const auto id = km_userid_payload(42);
    const std::vector<uint8_t> userid = build_km_frame(CMD_KM_USERID, id.data(), 4, k_decode.data());
    ASSERT_EQ(km.tcp_send(userid.data(), int(userid.size())), 1);
    ASSERT_TRUE(wait_for([&] { return received("km", CMD_KM_USERID).size() == 1; }));
    const raw_read after = read_raw(km, 500);
    EXPECT_TRUE(after.bytes.empty());
    EXPECT_FALSE(after.closed);
}

TEST_F(DevsimTest, GarbageStaysInStepAndNeverChangesTheSession)
{
    start(defaults());
    struct
    {
        const char* ch;
        uint16_t port;
        c_devsim_faults::channel_kind kind;
    } chans[] = {{"video", m_dev->port_video(), c_devsim_faults::channel_kind::video},
                 {"km", m_dev->port_km(), c_devsim_faults::channel_kind::km},
                 {"media", m_dev->port_media(), c_devsim_faults::channel_kind::media}};
    for (auto& c : chans) {
        SCOPED_TRACE(c.ch);
        // The generator itself, frame by frame, as the viewer cuts them.
        c_devsim_faults::garbage g(c.kind, 99, k_encode.data());
        int frames = 0, junk = 0, deciphered = 0;
        for (int i = 0; i < 3000; ++i) {
            const std::vector<uint8_t> bytes = g.next();
            c_memory_byte_source src(bytes.data(), uint32_t(bytes.size()));
            c_frame_reader reader;
            ASSERT_EQ(reader.read_frame(src), frame_read_result::frame) << i;
            // One frame per item, its length honest; an enciphered KM frame
            // carries its block of zero bytes behind the body.
            const uint32_t rest = src.remaining();
            EXPECT_TRUE(rest == 0 || (rest == 8 && bytes.back() == 0 && bytes[bytes.size() - 8] == 0)) << i;
            junk += bytes[0] != FRAME_SYNC;
            ++frames;
            uint8_t* body = reader.body();
            uint32_t len = reader.body_length();
            if (c.kind == c_devsim_faults::channel_kind::km) {
                if (!km_frame_check(reader.header(), body, &len, k_encode.data()) || len == 0)
                    continue;
                ++deciphered;
                EXPECT_FALSE(body[0] >= CMD_KM_GRAB && body[0] <= CMD_KM_PRIVILEGE) << i;
            } else if (c.kind == c_devsim_faults::channel_kind::video) {
                EXPECT_FALSE(len == 2 && body[0] == 4) << "an LED state" << i;
            } else if (len > 0) {
                EXPECT_FALSE(body[0] == 0x08 && len >= 8) << "a status answer" << i;
                EXPECT_FALSE(body[0] == 0x0A && len >= 520) << "sector data" << i;
            }
        }
        EXPECT_GT(junk, 500);
        if (c.kind == c_devsim_faults::channel_kind::km) {
            EXPECT_GT(deciphered, 1000);
        }

        // On the wire: every frame arrives and the end is in the events file.
        scripted_channel s;
        ASSERT_TRUE(s.connect(c.port));
        ASSERT_TRUE(wait_for([&] { return m_dev->command(QStringLiteral("status")).contains(QString::fromLatin1(c.ch) + "\":true"); }));
        ASSERT_TRUE(m_dev->command(QStringLiteral("fault %1 garbage 2000 5").arg(QLatin1String(c.ch)))
                        .startsWith(QStringLiteral("ok")));
        auto done = [&] {
            for (const QJsonObject& o : events())
                if (o.value("event").toString() == QLatin1String("fault-done") &&
                    o.value("channel").toString() == QLatin1String(c.ch))
                    return o.value("frames").toInt() == 2000;
            return false;
        };
        received_frame f;
        if (c.kind == c_devsim_faults::channel_kind::video) {
            // Pictures come between them; after the garbage a whole picture
            // message still arrives in step.
            while (!done() && s.next(f, 5000)) {
            }
            EXPECT_TRUE(s.next_where(f, [](const received_frame& x) {
                return x.plain_len() + 4 == x.wire_len() && x.body.size() > 16;
            }));
        } else {
            int got = 0;
            while (got < 2000 && s.next(f, 5000))
                ++got;
            EXPECT_EQ(got, 2000);
        }
        EXPECT_TRUE(wait_for(done));
    }
}
