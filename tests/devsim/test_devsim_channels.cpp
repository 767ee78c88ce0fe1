// devsim against a scripted viewer: handshakes, the picture stream through
// the viewer's receive path and decoder, keyboard and mouse reports, and the
// privilege messages.
#include <QJsonArray>

#include <map>
#include <mutex>

#include "devsim_fixture.h"
#include "tools/crypto/c_des.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_video_decoder.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"

#include "c_devsim_km.h"
#include "c_devsim_video.h"

namespace {

bool is_type(const received_frame& f, int t)
{
    return f.type() == t;
}

// A KM frame from the device as the viewer's receive thread delivers it.
bool km_next(scripted_channel& km, received_frame& f, int timeout_ms = 5000)
{
    if (!km.next(f, timeout_ms))
        return false;
    uint32_t len = uint32_t(f.body.size());
    if (!km_frame_check(f.header, f.body.data(), &len, DevsimTest::k_encode.data()))
        return false;
    f.body.resize(len);
    return true;
}

bool km_send(scripted_channel& km, uint8_t type, const std::vector<uint8_t>& payload)
{
    return km.send(build_km_frame(type, payload.data(), uint32_t(payload.size()), DevsimTest::k_decode.data()));
}

}  // namespace

TEST_F(DevsimTest, HandshakeOnAllThreeChannels)
{
    start(defaults());
    scripted_channel video, km, media;
    ASSERT_TRUE(video.connect(m_dev->port_video()));
    ASSERT_TRUE(km.connect(m_dev->port_km()));
    ASSERT_TRUE(media.connect(m_dev->port_media()));
    received_frame f;

    // Video: the user identification is answered 50 00, a stranger 50 01.
    ASSERT_TRUE(video.send(build_msg_50(42)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 50); }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{50, 0}));
    EXPECT_EQ(f.plain_len(), f.wire_len());
    ASSERT_TRUE(video.send(build_msg_50(7)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 50); }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{50, 1}));

    // Position steps move the picture and are answered; a reset answers
    // begin and end and puts it back. A wrong adapter is refused.
    ASSERT_TRUE(video.send(build_msg_32(2, 4)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 32); }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{32, 2, 0}));
    ASSERT_TRUE(video.send(build_msg_32(2, 2)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 32); }));
    EXPECT_EQ(m_dev->picture_offset(), QPoint(8, 8));
    ASSERT_TRUE(video.send(build_msg_32(5, 1)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 32); }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{32, 5, 1}));
    EXPECT_EQ(m_dev->picture_offset(), QPoint(8, 8));
    ASSERT_TRUE(video.send(build_msg_31(2)));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return x.type() == 30 || x.type() == 31; }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{30, 2, 0}));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return x.type() == 30 || x.type() == 31; }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{31, 2, 0}));
    EXPECT_EQ(m_dev->picture_offset(), QPoint(0, 0));

    // KM: the viewer's first two messages, user id in clear and the privilege request.
    const auto id = km_userid_payload(42);
    ASSERT_TRUE(km_send(km, CMD_KM_USERID, std::vector<uint8_t>(id.begin(), id.end())));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{50, 0}));
    ASSERT_TRUE(km_send(km, CMD_KM_PRIVILEGE, {0}));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{23, 1}));
    EXPECT_NE(f.plain_len(), f.wire_len()) << "the write state travels enciphered";

    // Media: identification and map.
    ASSERT_TRUE(media.send(build_msg_50(42)));
    ASSERT_TRUE(media.next(f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{50, 0}));
    ASSERT_TRUE(media.send(build_msg_7(1, 0x01, 64)));
    ASSERT_TRUE(media.next(f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{7, 0, 0}));

    // The events file holds what the viewer sent, decoded.
    ASSERT_TRUE(wait_for([&] { return received("media", 7).size() == 1; }));
    const auto v50 = received("video", 50);
    ASSERT_EQ(v50.size(), 2u);
    EXPECT_EQ(v50[0].value("hex").toString(), QStringLiteral("320000002a"));
    EXPECT_EQ(v50[0].value("fields").toObject().value("userID").toInt(), 42);
    const auto v32 = received("video", 32);
    ASSERT_EQ(v32.size(), 3u);
    EXPECT_EQ(v32[0].value("fields").toObject().value("direction").toString(), QStringLiteral("right"));
    const auto k23 = received("km", 23);
    ASSERT_EQ(k23.size(), 1u);
    EXPECT_EQ(k23[0].value("hex").toString(), QStringLiteral("1700"));
    EXPECT_TRUE(k23[0].value("fields").toObject().value("enciphered").toBool());
    EXPECT_EQ(received("media", 7)[0].value("fields").toObject().value("sectors").toInt(), 64);
    EXPECT_TRUE(has_event("media", "map"));
}

class DevsimVideoSize : public DevsimTest, public ::testing::WithParamInterface<std::pair<int, int>>
{
};

TEST_P(DevsimVideoSize, StreamDecodesToThePictureSize)
{
    c_devsim_options o = defaults();
    o.width = GetParam().first;
    o.height = GetParam().second;
    start(o);
    // A second viewer gets a stream of its own that starts with a key frame:
    // its fresh decoder shows the very first picture it receives.
    for (int connection = 0; connection < 2; ++connection) {
        SCOPED_TRACE(connection);
        scripted_channel video;
        ASSERT_TRUE(video.connect(m_dev->port_video()));
        ASSERT_TRUE(video.send(build_msg_50(42)));
        c_frame_assembler assembler;
        c_video_decoder decoder;
        ASSERT_TRUE(decoder.open());
        int units = 0, pictures = 0;
        received_frame f;
        while (pictures < 3) {
            ASSERT_TRUE(video.next(f, 10000)) << "no video after " << pictures << " pictures";
            if (f.type() == 50)
                continue;
            ASSERT_NE(f.plain_len(), f.wire_len()) << "video bodies start enciphered";
            uint8_t* body = f.body.data();
            uint32_t len = uint32_t(f.body.size());
            ASSERT_TRUE(video_frame_prepare(f.header, &body, &len, k_encode.data()));
            ASSERT_EQ(body[0], 6);
            int unit = 0;
            const uint8_t* au = assembler.add(body, int(len), &unit);
            if (!au)
                continue;
            ++units;
            ASSERT_GT(decoder.decode(au, unit), 0) << "unit " << units << " gives no picture";
            EXPECT_EQ(decoder.picture_width(), o.width);
            EXPECT_EQ(decoder.picture_height(), o.height);
            ++pictures;
        }
        video.close();
        ASSERT_TRUE(wait_for([&] { return !m_dev->video().connected(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DevsimVideoSize,
                         ::testing::Values(std::make_pair(1280, 720), std::make_pair(1920, 1080)));

TEST_F(DevsimTest, FragmentsDecipheredAndJoinedAreTheEncodedUnits)
{
    for (const bool cipher : {true, false}) {
        SCOPED_TRACE(cipher ? "enciphered" : "clear");
        c_devsim_options o = defaults();
        o.fragmentSize = 1000;  // several fragments per picture
        o.videoCipher = cipher;
        start(o);
        std::mutex lock;
        std::vector<std::vector<uint8_t>> encoded;
        m_dev->video().set_au_observer([&](const std::vector<uint8_t>& au) {
            std::lock_guard<std::mutex> lk(lock);
            encoded.push_back(au);
        });
        scripted_channel video;
        ASSERT_TRUE(video.connect(m_dev->port_video()));

        c_frame_assembler assembler;
        size_t units = 0, multi = 0;
        uint16_t expectIndex = 0;
        received_frame f;
        while (units < 8) {
            ASSERT_TRUE(video.next(f, 10000));
            EXPECT_EQ(f.plain_len() != f.wire_len(), cipher);
            uint8_t* body = f.body.data();
            uint32_t len = uint32_t(f.body.size());
            ASSERT_TRUE(video_frame_prepare(f.header, &body, &len, k_encode.data()));
            ASSERT_EQ(body[0], 6);
            ASSERT_EQ(read_be32(body + 8), len - 12) << "payload length field";
            EXPECT_LE(len - 12, 1000u);
            EXPECT_TRUE(body[1] == 0 || body[1] == 1);
            EXPECT_EQ(read_be16(body + 6), expectIndex) << "fragments come in order";
            expectIndex = body[1] == 1 ? 0 : uint16_t(expectIndex + 1);
            if (body[1] == 1 && read_be16(body + 6) > 0)
                ++multi;
            int unit = 0;
            const uint8_t* au = assembler.add(body, int(len), &unit);
            if (!au)
                continue;
            std::lock_guard<std::mutex> lk(lock);
            ASSERT_LT(units, encoded.size());
            ASSERT_EQ(std::vector<uint8_t>(au, au + unit), encoded[units]) << "unit " << units;
            ++units;
        }
        EXPECT_GT(multi, 0u) << "some pictures took more than one fragment";
        m_dev->stop();
        m_dev.reset();
    }
}

TEST_F(DevsimTest, KeyboardAndMouseReportsAreDecoded)
{
    start(defaults());
    scripted_channel video, km;
    ASSERT_TRUE(video.connect(m_dev->port_video()));
    ASSERT_TRUE(km.connect(m_dev->port_km()));
    // LED changes go to the video viewer of the moment: make sure it is taken.
    ASSERT_TRUE(wait_for([&] { return m_dev->video().connected(); }));
    c_key_translator keys;
    received_frame f;
    auto key = [&](int code, bool down) {
        unsigned char report[8];
        int n = 0;
        ASSERT_TRUE(keys.translate(code, down, report, n));
        ASSERT_TRUE(km_send(km, CMD_KM_KEYBOARD, std::vector<uint8_t>(report, report + n)));
        ASSERT_TRUE(km_next(km, f));
        ASSERT_EQ(f.type(), CMD_KM_KEYBOARD) << "every report is answered";
    };
    // Shift+A, b, Shift+1.
    key(Qt::Key_Shift, true);
    key(Qt::Key_A, true);
    key(Qt::Key_A, false);
    key(Qt::Key_Shift, false);
    key(Qt::Key_B, true);
    key(Qt::Key_B, false);
    key(Qt::Key_Shift, true);
    key(Qt::Key_Exclam, true);  // what Shift+1 gives on a US keyboard
    key(Qt::Key_Exclam, false);
    key(Qt::Key_Shift, false);
    EXPECT_EQ(m_dev->typed(), QStringLiteral("Ab!"));
    const auto reports = received("km", CMD_KM_KEYBOARD);
    ASSERT_EQ(reports.size(), 10u);
    EXPECT_EQ(reports[1].value("hex").toString(), QStringLiteral("030200040000000000"));
    EXPECT_EQ(reports[1].value("fields").toObject().value("text").toString(), QStringLiteral("A"));

    // Caps Lock: the LED state goes out on the video channel, letters come out upper case.
    key(Qt::Key_CapsLock, true);
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return is_type(x, 4); }));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{4, 2}));
    key(Qt::Key_CapsLock, false);
    key(Qt::Key_C, true);
    key(Qt::Key_C, false);
    EXPECT_TRUE(m_dev->typed().endsWith(QStringLiteral("C")));
    // A chord from the key menu.
    unsigned char chord[8];
    keys.sequenceReport({Qt::Key_Control, Qt::Key_Alt, Qt::Key_Delete}, chord);
    ASSERT_TRUE(km_send(km, CMD_KM_KEYBOARD, std::vector<uint8_t>(chord, chord + 8)));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_TRUE(m_dev->typed().endsWith(QStringLiteral("<Ctrl+Alt+Delete>"))) << m_dev->typed().toStdString();

    // Absolute mouse on the 1920 x 1200 grid: the middle of the grid is the
    // middle of the 320 x 240 picture.
    const auto abs = km_mouse_abs_payload(KM_ABS_LEFT, 960, 600, 0);
    ASSERT_TRUE(km_send(km, CMD_KM_MOUSE_ABS, std::vector<uint8_t>(abs.begin(), abs.end())));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.type(), CMD_KM_MOUSE_ABS);
    EXPECT_EQ(m_dev->pointer(), QPoint(160, 120));
    EXPECT_EQ(m_dev->buttons(), 1);
    // Relative moves, clamped at the picture's edge.
    ASSERT_TRUE(km_send(km, CMD_KM_MOUSE_REL, {0, 10, uint8_t(-20), 0}));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(m_dev->pointer(), QPoint(170, 100));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(km_send(km, CMD_KM_MOUSE_REL, {0, uint8_t(-127), uint8_t(-127), 0}));
        ASSERT_TRUE(km_next(km, f));
    }
    EXPECT_EQ(m_dev->pointer(), QPoint(0, 0));
    const auto rel = received("km", CMD_KM_MOUSE_REL);
    ASSERT_FALSE(rel.empty());
    EXPECT_EQ(rel[0].value("fields").toObject().value("dy").toInt(), -20);
}

TEST_F(DevsimTest, PrivilegeCommandsProduceTheirFrames)
{
    start(defaults());
    scripted_channel km;
    ASSERT_TRUE(km.connect(m_dev->port_km()));
    ASSERT_TRUE(wait_for([&] { return m_dev->km().connected(); }));
    received_frame f;

    EXPECT_TRUE(m_dev->command(QStringLiteral("giveup")).startsWith(QStringLiteral("ok giveup sent")));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{21}));
    EXPECT_NE(f.plain_len(), f.wire_len());

    // A grant (22 00) must reach the viewer with its value byte: enciphered,
    // the viewer's padding strip would eat the 00, so it goes in clear.
    EXPECT_TRUE(m_dev->command(QStringLiteral("grab 0")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{22, 0}));
    EXPECT_EQ(m_dev->privilege(), 1);
    EXPECT_TRUE(m_dev->command(QStringLiteral("grab 1")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{22, 1}));
    EXPECT_EQ(m_dev->privilege(), 0);

    EXPECT_TRUE(m_dev->command(QStringLiteral("privilege 1")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{23, 1}));
    EXPECT_TRUE(m_dev->command(QStringLiteral("privilege 0")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{23, 0}));
    // The privilege request is now answered with the read state.
    ASSERT_TRUE(km_send(km, CMD_KM_PRIVILEGE, {0}));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{23, 0}));
    EXPECT_TRUE(m_dev->command(QStringLiteral("privilege 2")).startsWith(QStringLiteral("error")));

    // The viewer's give-up answer and grab acknowledgement are not echoed
    // (the viewer would take the echo for a new request): the next frame is
    // the answer to the keep-alive sent after them.
    m_dev->set_privilege(1);
    ASSERT_TRUE(km_send(km, CMD_KM_GIVEUP, {1}));
    ASSERT_TRUE(km_send(km, CMD_KM_GRAB_RESULT, {0}));
    ASSERT_TRUE(km_send(km, CMD_KM_KEEPALIVE, {0}));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.type(), CMD_KM_KEEPALIVE);
    EXPECT_EQ(m_dev->privilege(), 1) << "refused: the viewer keeps write";
    ASSERT_TRUE(km_send(km, CMD_KM_GIVEUP, {0}));
    ASSERT_TRUE(wait_for([&] { return m_dev->privilege() == 0; }));

    // A stalled KM channel answers nothing until it is released.
    EXPECT_TRUE(m_dev->command(QStringLiteral("stall km")).startsWith(QStringLiteral("ok")));
    const uint64_t before = m_dev->km().received();
    ASSERT_TRUE(km_send(km, CMD_KM_KEEPALIVE, {0}));
    ASSERT_TRUE(wait_for([&] { return m_dev->km().received() > before; }));
    EXPECT_TRUE(m_dev->command(QStringLiteral("unstall km")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(km_send(km, CMD_KM_PRIVILEGE, {0}));
    ASSERT_TRUE(km_next(km, f));
    EXPECT_EQ(f.type(), CMD_KM_PRIVILEGE);

    const auto answers = received("km", CMD_KM_GIVEUP);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_FALSE(answers[0].value("fields").toObject().value("agreed").toBool());
    EXPECT_TRUE(answers[1].value("fields").toObject().value("agreed").toBool());
}
