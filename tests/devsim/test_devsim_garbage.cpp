// Bad input to devsim: it logs, drops the connection and serves the next
// viewer. The tail of zero bytes that the viewer's KM frames can carry is
// not bad input.
#include "devsim_fixture.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"

#include "c_devsim_km.h"

namespace {

std::vector<uint8_t> bytes(const CQUEUE_MESSAGE& m)
{
    std::vector<uint8_t> v(m.data, m.data + m.length);
    CQUEUE_MESSAGE copy = m;
    copy.free_data();
    return v;
}

}  // namespace

TEST_F(DevsimTest, GarbageDropsTheConnectionAndTheNextViewerIsServed)
{
    start(defaults());
    const char text[] = "GET / HTTP/1.0\r\n\r\n";
    std::vector<uint8_t> badSum = bytes(build_msg_50(42));
    badSum[2] ^= 1;
    // A header announcing 16 MiB.
    std::vector<uint8_t> huge = {0xA5, 1, 0, 0x01, 0, 0, 0, 0x01, 0, 0, 0};
    // A KM body enciphered with a key that is not the viewer's.
    const uint8_t wrongKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t ka[1] = {0};
    const std::vector<uint8_t> wrongCipher = build_km_frame(CMD_KM_KEEPALIVE, ka, 1, wrongKey);
    std::vector<uint8_t> badVersion = bytes(build_msg_50(42));
    badVersion[1] = 2;

    struct
    {
        const char* name;
        uint16_t port;
        std::vector<uint8_t> data;
    } cases[] = {
        {"text on video", m_dev->port_video(), std::vector<uint8_t>(text, text + sizeof text - 1)},
        {"text on km", m_dev->port_km(), std::vector<uint8_t>(text, text + sizeof text - 1)},
        {"text on media", m_dev->port_media(), std::vector<uint8_t>(text, text + sizeof text - 1)},
        {"checksum", m_dev->port_media(), badSum},
        {"oversized", m_dev->port_video(), huge},
        {"wrong key", m_dev->port_km(), wrongCipher},
        {"version", m_dev->port_km(), badVersion},
    };
    int errors = 0;
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        scripted_channel bad;
        ASSERT_TRUE(bad.connect(c.port));
        ASSERT_TRUE(bad.send(c.data));
        EXPECT_TRUE(bad.wait_closed()) << "the device keeps a connection that sent garbage";
        // The next viewer is served.
        scripted_channel good;
        ASSERT_TRUE(good.connect(c.port));
        received_frame f;
        if (c.port == m_dev->port_km()) {
            const auto id = km_userid_payload(42);
            ASSERT_TRUE(good.send(build_km_frame(CMD_KM_USERID, id.data(), 4, k_decode.data())));
        } else {
            ASSERT_TRUE(good.send(build_msg_50(42)));
        }
        ASSERT_TRUE(good.next_where(f, [](const received_frame& x) { return x.type() == 50; }));
        EXPECT_EQ(f.body[1], 0);
        ++errors;
        ASSERT_TRUE(wait_for([&] {
            int n = 0;
            for (const QJsonObject& o : events())
                n += o.value("event").toString() == QLatin1String("disconnect") &&
                     o.value("error").toString().size() > 0;
            return n == errors;
        })) << "each drop is in the events file with its reason";
    }

    // A KM message of 7 payload bytes is enciphered to 8 bytes and followed
    // by 8 zero bytes; the device takes that and stays connected.
    scripted_channel km;
    ASSERT_TRUE(km.connect(m_dev->port_km()));
    const uint8_t seven[7] = {1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint8_t> frame = build_km_frame(99, seven, 7, k_decode.data());
    ASSERT_EQ(frame.size(), 11u + 16u);
    ASSERT_TRUE(km.send(frame));
    received_frame f;
    ASSERT_TRUE(km.next(f));
    ASSERT_TRUE(km.send(build_km_frame(CMD_KM_KEEPALIVE, ka, 1, k_decode.data())));
    ASSERT_TRUE(km.next(f));
    EXPECT_FALSE(km.closed());
    const auto unknown = received("km", 99);
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].value("hex").toString(), QStringLiteral("6301020304050607"));
}
