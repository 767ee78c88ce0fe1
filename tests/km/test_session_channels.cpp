// The KM, video and media channel classes without any window: what each
// sends on a connection, in order, that a connection the device drops is
// made again with the opening replayed (and, on KM, everything let go first),
// the KM keep-alive's schedule in front of the test device made slow; a
// device that closes right after the opening or refuses the login; a KM
// device that stops answering; a media port that opens late.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonObject>
#include <QTemporaryDir>
#include <sys/resource.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "c_devsim.h"
#include "c_devsim_frames.h"
#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "common/h264video_session.h"
#include "common/log_capture.h"
#include "common/wait_until.h"
#include "session/c_km_channel.h"
#include "session/c_session_status.h"
#include "session/c_video_channel.h"
#include "thread/c_media_protocol.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/key_mouse/km_messages.h"

namespace {

c_km_channel::config km_config(uint16_t port)
{
    c_km_channel::config cfg;
    cfg.ip = "127.0.0.1";
    cfg.port = port;
    cfg.user_id = 42;
    std::mt19937 rng(std::random_device{}());
    for (int i = 0; i < 8; ++i) {
        cfg.out_key[i] = uint8_t(rng());
        cfg.in_key[i] = uint8_t(rng());
    }
    // km_plain_body() deciphers with the session keys.
    std::memcpy(g_para.desDecode.key, cfg.out_key, 8);
    std::memcpy(g_para.desEncode.key, cfg.in_key, 8);
    return cfg;
}

// The next n KM bodies the device reads, each answered so the next one leaves.
std::vector<std::vector<uint8_t> > read_answered(LoopbackPeer& peer, int n)
{
    std::vector<std::vector<uint8_t> > bodies;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> frame;
        if (!H264VideoSession::read_whole_frame(peer, frame))
            break;
        bodies.push_back(km_plain_body(frame));
        const uint8_t answer[3] = {bodies.back().empty() ? uint8_t(0) : bodies.back()[0], 0, 0x11};
        peer.send_bytes(c_devsim_frames::km_enciphered(answer, 3, g_para.desEncode.key));
    }
    return bodies;
}

int64_t steady_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// An in-process device on loopback ports chosen by the system.
struct test_device
{
    explicit test_device(const std::function<void(c_devsim_options&)>& tweak = {},
                         std::function<void(const QJsonObject&)> observer = {})
    {
        c_devsim_options o;
        o.portVideo = o.portKM = o.portMedia = o.portControl = 0;
        o.controlPort = false;
        o.readStdin = false;
        o.width = 320;
        o.height = 240;
        o.fps = 5;
        o.userID = 42;
        o.eventsFile.clear();
        o.mediaOut = dir.filePath(QStringLiteral("media.img"));
        if (tweak)
            tweak(o);
        dev = std::make_unique<c_devsim>(o);
        if (observer)
            dev->events().set_observer(std::move(observer));
        QString error;
        started = dev->start(&error);
    }
    ~test_device() { dev->stop(); }

    c_km_channel::config km(const char* ip = "127.0.0.1") const
    {
        c_km_channel::config cfg;
        cfg.ip = ip;
        cfg.port = dev->port_km();
        cfg.user_id = 42;
        std::memcpy(cfg.out_key, dev->options().desDecode.data(), 8);
        std::memcpy(cfg.in_key, dev->options().desEncode.data(), 8);
        cfg.absolute_mouse = true;
        return cfg;
    }

    QTemporaryDir dir;
    std::unique_ptr<c_devsim> dev;
    bool started = false;
};

// The test device with only its KM channel in use, each answer after
// answer_ms, and every KM message it receives noted with the time it arrived.
class slow_device
{
public:
    struct arrival
    {
        int64_t ms;
        std::vector<uint8_t> body;
    };

    explicit slow_device(int answer_ms)
        : m_dev(
              [answer_ms](c_devsim_options& o) {
                  o.kmDelayMs = answer_ms;
                  o.eventsHexMax = 0;
              },
              [this](const QJsonObject& e) {
                  if (e.value(QStringLiteral("channel")).toString() != QLatin1String("km") ||
                      e.value(QStringLiteral("event")).toString() != QLatin1String("recv"))
                      return;
                  const QByteArray bytes = QByteArray::fromHex(e.value(QStringLiteral("hex")).toString().toLatin1());
                  std::lock_guard<std::mutex> g(m_lock);
                  m_arrivals.push_back({steady_ms(), std::vector<uint8_t>(bytes.begin(), bytes.end())});
              }),
          started(m_dev.started)
    {
    }

    c_km_channel::config channel_config() const
    {
        c_km_channel::config cfg = m_dev.km();
        cfg.absolute_mouse = false;
        return cfg;
    }
    void set_answering(bool on) { m_dev.dev->km().set_answer(on); }
    std::vector<arrival> arrivals() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_arrivals;
    }

private:
    mutable std::mutex m_lock;
    std::vector<arrival> m_arrivals;
    test_device m_dev;

public:
    const bool started;
};

const std::vector<uint8_t> KEEPALIVE{CMD_KM_KEEPALIVE, 0};

// A keyboard report carrying its number in its first two key bytes (pointer
// reports waiting would be merged into one).
bool send_numbered_report(c_km_channel& ch, int n)
{
    const unsigned char r[KM_KEYBOARD_LEN] = {0, 0, uint8_t(n & 0xFF), uint8_t(n >> 8), 0, 0, 0, 0};
    return ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, r);
}

int report_number(const std::vector<uint8_t>& body)
{
    return body.size() == 1 + KM_KEYBOARD_LEN && body[0] == CMD_KM_KEYBOARD ? body[3] | (body[4] << 8) : -1;
}

// The states a channel reported, in order, for a session status fed later on
// this thread (the status lives on the GUI thread).
struct state_log
{
    struct entry
    {
        channel_state state;
        int attempt;
        std::string reason;
    };
    c_channel_keeper::state_fn handler()
    {
        return [this](channel_state s, int a, const std::string& r) {
            std::lock_guard<std::mutex> g(lock);
            entries.push_back(entry{s, a, r});
        };
    }
    void feed(c_session_status& status, const QString& name)
    {
        std::lock_guard<std::mutex> g(lock);
        for (const entry& e : entries)
            status.set_channel(name, e.state, e.attempt, QString::fromStdString(e.reason));
    }
    std::mutex lock;
    std::vector<entry> entries;
};

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(SessionChannels, KmOpensInOrderAndReplaysTheOpeningWithEverythingLetGo)
{
    LoopbackPeer device;
    c_km_channel ch(km_config(device.port()));
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    const unsigned char key[KM_KEYBOARD_LEN] = {0, 0, 0x1B, 0, 0, 0, 0, 0};
    ASSERT_TRUE(ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, key));

    const auto first = read_answered(device, 3);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0], (std::vector<uint8_t>{CMD_KM_USERID, 0, 0, 0, 42}));
    EXPECT_EQ(first[1], (std::vector<uint8_t>{CMD_KM_PRIVILEGE, 0}));
    EXPECT_EQ(first[2][0], CMD_KM_KEYBOARD);

    // The device drops the connection: the channel connects again by itself.
    device.close_client();
    ASSERT_TRUE(device.accept_client(10000));
    const auto again = read_answered(device, 4);
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[0], (std::vector<uint8_t>{CMD_KM_USERID, 0, 0, 0, 42}));
    EXPECT_EQ(again[1], (std::vector<uint8_t>{CMD_KM_PRIVILEGE, 0}));
    EXPECT_EQ(again[2], (std::vector<uint8_t>{CMD_KM_KEYBOARD, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(again[3], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 0, 0, 0, 0}));
    EXPECT_TRUE(wait_until([&] { return ch.state() == channel_state::connected; }, 5000));
    EXPECT_GE(ch.reconnect_attempts(), 1);
    ch.stop();
}

TEST(SessionChannels, KmGivesUpADeviceOnlyWhenItsKeepAliveAnswersStop)
{
    // Times shortened from 10 s and 30 s; the rules are the same.
    LoopbackPeer device;
    c_km_channel::config cfg = km_config(device.port());
    cfg.keepalive_period_ms = 100;
    cfg.keepalive_loss_ms = 400;
    c_km_channel ch(cfg);
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    ASSERT_EQ(read_answered(device, 2).size(), 2u);  // user id, privilege request

    // A device that never answers keep-alives keeps its connection: five
    // keep-alives (longer than the loss time) arrive on the first one.
    const std::vector<uint8_t> keepalive{CMD_KM_KEEPALIVE, 0};
    for (int i = 0; i < 5; ++i) {
        std::vector<uint8_t> frame;
        ASSERT_TRUE(H264VideoSession::read_whole_frame(device, frame));
        EXPECT_EQ(km_plain_body(frame), keepalive);
    }
    EXPECT_EQ(ch.reconnect_attempts(), 0);

    // Once it has answered one and then falls silent, with the connection
    // still open, the channel gives it up and connects again.
    const auto answered = read_answered(device, 1);
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0], keepalive);
    ASSERT_TRUE(device.accept_client(10000));
    EXPECT_GE(ch.reconnect_attempts(), 1);
    ch.stop();
}

// A mouse in motion (a report every 20 ms) in front of a device that takes
// 60 ms per answer keeps the list from ever emptying; the keep-alive still
// leaves every 10 s, ahead of the reports already waiting.
TEST(SessionChannels, KmKeepAliveKeepsItsScheduleWhileReportsQueueUp)
{
    slow_device device(60);
    ASSERT_TRUE(device.started);
    c_km_channel ch(device.channel_config());
    ASSERT_TRUE(ch.connect());
    const int64_t t0 = steady_ms();
    ch.start();

    const int64_t run_ms = 25000;
    std::vector<int64_t> queued_at;
    queued_at.reserve(size_t(run_ms / 20) + 1);
    for (int n = 0;; ++n) {
        const int64_t due = t0 + int64_t(n) * 20;
        if (due - t0 > run_ms)
            break;
        const int64_t now = steady_ms();
        if (due > now)
            std::this_thread::sleep_for(std::chrono::milliseconds(due - now));
        queued_at.push_back(steady_ms());
        ASSERT_TRUE(send_numbered_report(ch, n)) << n;
    }
    const auto got = device.arrivals();
    ch.stop();

    std::vector<int64_t> keepalives;
    int last_report = -1;
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].body == KEEPALIVE) {
            keepalives.push_back(got[i].ms);
            // Reports queued before it left are still behind it.
            int next = -1;
            for (size_t j = i + 1; j < got.size() && next < 0; ++j)
                next = report_number(got[j].body);
            ASSERT_GE(next, 0) << "no report after the keep-alive at " << got[i].ms - t0 << " ms";
            int waiting = 0;
            for (size_t k = size_t(next); k < queued_at.size(); ++k)
                waiting += queued_at[k] < got[i].ms ? 1 : 0;
            EXPECT_GE(waiting, 10) << "keep-alive at " << got[i].ms - t0 << " ms";
            continue;
        }
        const int n = report_number(got[i].body);
        if (n >= 0) {
            EXPECT_EQ(n, last_report + 1) << "reports out of order";
            last_report = n;
        }
    }
    ASSERT_EQ(keepalives.size(), 2u) << "keep-alives in " << run_ms << " ms of reports";
    EXPECT_NEAR(double(keepalives[0] - t0), 10000.0, 1000.0);
    EXPECT_NEAR(double(keepalives[1] - keepalives[0]), 10000.0, 1000.0);
}

// Times shortened (keep-alive 1 s, silence 3 s): a device that has answered a
// keep-alive and then falls silent while reports keep coming is given up once
// the silence has lasted the loss time, although the list never empties.
TEST(SessionChannels, KmSilenceCheckRunsWhileReportsQueueUp)
{
    slow_device device(60);
    ASSERT_TRUE(device.started);
    c_km_channel::config cfg = device.channel_config();
    cfg.keepalive_period_ms = 1000;
    cfg.keepalive_loss_ms = 3000;
    c_km_channel ch(cfg);
    std::mutex lock;
    int64_t lost_ms = 0;
    std::string lost_reason;
    ch.set_state_handler([&](channel_state s, int, const std::string& reason) {
        std::lock_guard<std::mutex> g(lock);
        if (s == channel_state::reconnecting && lost_ms == 0) {
            lost_ms = steady_ms();
            lost_reason = reason;
        }
    });
    auto lost = [&] {
        std::lock_guard<std::mutex> g(lock);
        return lost_ms != 0;
    };
    ASSERT_TRUE(ch.connect());
    ch.start();

    // With nothing else to send the first keep-alive leaves; the device
    // answers one message at a time, so once the report sent after it has
    // arrived, the keep-alive's answer has gone out. Then it falls silent.
    int64_t keepalive_ms = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            for (const auto& a : device.arrivals())
                if (a.body == KEEPALIVE)
                    keepalive_ms = a.ms;
            return keepalive_ms != 0;
        },
        10000));
    ASSERT_TRUE(send_numbered_report(ch, 0));
    ASSERT_TRUE(wait_until([&] { return report_number(device.arrivals().back().body) == 0; }, 5000));
    device.set_answering(false);

    const int64_t t0 = steady_ms();
    for (int n = 1; !lost() && steady_ms() - t0 < 20000; ++n) {
        send_numbered_report(ch, n);
        const int64_t due = t0 + int64_t(n) * 20;
        const int64_t now = steady_ms();
        if (due > now)
            std::this_thread::sleep_for(std::chrono::milliseconds(due - now));
    }
    ch.stop();
    std::lock_guard<std::mutex> g(lock);
    ASSERT_NE(lost_ms, 0) << "still connected 20 s after the device fell silent";
    EXPECT_NE(lost_reason.find("no answer to the keep-alive"), std::string::npos) << lost_reason;
    // Not before the loss time, and at the latest one keep-alive period (and
    // one unanswered report) after it.
    EXPECT_GE(lost_ms - keepalive_ms, 3000);
    EXPECT_LE(lost_ms - keepalive_ms, 60 + 3000 + 1000 + 1000);
}

TEST(SessionChannels, VideoStartsEachConnectionWithTheUserIdAndANewPipeline)
{
    LoopbackPeer device;
    c_video_channel::config cfg;
    cfg.ip = "127.0.0.1";
    cfg.port = device.port();
    cfg.user_id = 7;
    c_video_channel ch(cfg);
    std::atomic<int> pipelines{0};
    ch.set_pipeline_handler([&](const std::shared_ptr<c_video_pipeline>&) { ++pipelines; });
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start();
    std::vector<uint8_t> body;
    ASSERT_TRUE(H264VideoSession::read_frame(device, body));
    EXPECT_EQ(body, (std::vector<uint8_t>{50, 0, 0, 0, 7}));
    const std::shared_ptr<c_video_pipeline> before = ch.pipeline();

    device.close_client();
    ASSERT_TRUE(device.accept_client(10000));
    ASSERT_TRUE(H264VideoSession::read_frame(device, body));
    EXPECT_EQ(body, (std::vector<uint8_t>{50, 0, 0, 0, 7}));
    // Up once the device answers the user id.
    EXPECT_EQ(ch.state(), channel_state::opening);
    device.send_bytes(c_devsim_frames::clear({50, 0}));
    EXPECT_TRUE(wait_until([&] { return ch.state() == channel_state::connected; }, 5000));
    EXPECT_NE(ch.pipeline(), before);
    EXPECT_EQ(pipelines.load(), 2);
    ch.stop();
}

TEST(SessionChannels, ADeviceThatClosesAfterTheOpeningIsNotStormedAndTheKeyIsNamed)
{
    test_application();
    LogCapture log;
    test_device d([](c_devsim_options& o) { o.closeAfterOpening = true; });
    ASSERT_TRUE(d.started);
    c_km_channel ch(d.km());
    state_log states;
    ch.set_state_handler(states.handler());
    ASSERT_TRUE(ch.connect());
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    ch.start();
    // 12 s as the device sees it: each connection answered, then closed.
    std::this_thread::sleep_until(t0 + std::chrono::seconds(12));
    const int connections = d.dev->km().connections();
    const double cpu = (cpu_seconds() - cpu0) / 12.0;
    ch.stop();
    std::printf("close after the opening: %d KM connections in 12 s, %.1f %% of a core\n", connections, cpu * 100);
    EXPECT_GE(connections, 3);
    EXPECT_LE(connections, 10);
    EXPECT_LT(cpu, 0.10);

    c_session_status status;
    states.feed(status, QStringLiteral("KM"));
    EXPECT_TRUE(status.overlay_text().contains(QStringLiteral("the key or the user in the launch string may be wrong")))
        << status.overlay_text().toStdString();
    EXPECT_TRUE(status.notices().join(QLatin1Char('\n')).contains(QStringLiteral("may be wrong")));
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find(c_channel_keeper::WRONG_KEY_HINT) != std::string::npos; }),
              1)
        << "said once, not once per attempt";
}

TEST(SessionChannels, ARefusedLoginIsShownAndTriedAgainOnlyWhenAsked)
{
    test_application();
    test_device d([](c_devsim_options& o) { o.refuseLogin = true; });
    ASSERT_TRUE(d.started);
    // By host name: the channel resolves it like any address.
    c_km_channel ch(d.km("localhost"));
    state_log states;
    ch.set_state_handler(states.handler());
    ASSERT_TRUE(ch.connect());
    ch.start();
    ASSERT_TRUE(wait_until([&] { return ch.state() == channel_state::refused; }, 10000));
    // Not tried again by itself.
    EXPECT_FALSE(wait_until([&] { return d.dev->km().connections() > 1; }, 3000));
    c_session_status status;
    states.feed(status, QStringLiteral("KM"));
    EXPECT_TRUE(status.overlay_text().contains(QStringLiteral("the device refused the login of user 42")))
        << status.overlay_text().toStdString();
    EXPECT_TRUE(status.offer_retry());
    EXPECT_EQ(status.refused_channels(), QStringList{QStringLiteral("KM")});

    ch.retry();
    EXPECT_TRUE(wait_until([&] { return d.dev->km().connections() == 2; }, 10000));
    EXPECT_TRUE(wait_until([&] { return ch.state() == channel_state::refused; }, 10000));
    EXPECT_FALSE(wait_until([&] { return d.dev->km().connections() > 2; }, 1000));
    ch.stop();
}

TEST(SessionChannels, AKeyAfterLongPointerMovementReachesADeviceThatStoppedAnswering)
{
    test_application();
    test_device d;
    ASSERT_TRUE(d.started);
    c_km_channel ch(d.km());
    std::atomic<int> late_changes{0};
    ch.set_answer_state_handler([&] { ++late_changes; });
    ASSERT_TRUE(ch.connect());
    ch.start();
    ASSERT_TRUE(wait_until([&] { return ch.state() == channel_state::connected; }, 10000));
    // The device still reads everything, and answers nothing.
    ASSERT_TRUE(d.dev->command(QStringLiteral("stall km")).startsWith(QStringLiteral("ok")));

    // 20 s of pointer movement, a report every 10 ms as the sampling timer sends them.
    const auto move_until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    size_t longest = 0;
    bool late_seen_in_time = false;
    const auto late_by = std::chrono::steady_clock::now() + std::chrono::milliseconds(3500);
    for (int i = 0; std::chrono::steady_clock::now() < move_until; ++i) {
        const auto p = km_mouse_abs_payload(KM_ABS_NONE, int16_t(100 + i % 1000), int16_t(100 + i % 700), 0);
        ASSERT_TRUE(ch.send(CMD_KM_MOUSE_ABS, KM_MOUSE_ABS_LEN, p.data()));
        longest = std::max(longest, ch.queue_length());
        if (ch.answers_late() && std::chrono::steady_clock::now() < late_by)
            late_seen_in_time = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(late_seen_in_time) << "not told within 3.5 s that the device does not answer";
    EXPECT_LE(longest, 2u) << "pointer reports piled up";

    const QString typed = d.dev->typed();
    const unsigned char a_down[KM_KEYBOARD_LEN] = {0, 0, 0x04, 0, 0, 0, 0, 0};
    const auto t_key = std::chrono::steady_clock::now();
    ASSERT_TRUE(ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, a_down));
    ASSERT_TRUE(wait_until([&] { return d.dev->typed() != typed; }, 5000));
    const long key_ms =
        long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t_key).count());
    std::printf("key after 20 s of pointer movement, device not answering: %ld ms\n", key_ms);
    EXPECT_LT(key_ms, 1500);

    c_session_status status;
    status.set_answers_late(ch.answers_late());
    EXPECT_TRUE(status.notices().join(QLatin1Char('\n')).contains(QStringLiteral("does not answer")));
    // The next answer ends it.
    ASSERT_TRUE(d.dev->command(QStringLiteral("unstall km")).startsWith(QStringLiteral("ok")));
    const unsigned char up[KM_KEYBOARD_LEN] = {};
    ASSERT_TRUE(ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, up));
    EXPECT_TRUE(wait_until([&] { return !ch.answers_late(); }, 5000));
    EXPECT_EQ(late_changes.load(), 2);
    ch.stop();
}

TEST(SessionChannels, PointerReportsWaitingAreMergedButButtonChangesAndOrderStay)
{
    // The device answers nothing: everything after the first report waits.
    LoopbackPeer device;
    c_km_channel::config cfg = km_config(device.port());
    c_km_channel ch(cfg);
    ASSERT_TRUE(ch.connect());
    ASSERT_TRUE(device.accept_client());
    ch.start(false);  // nothing leaves: the queue is looked at as it stands
    ch.clear();
    const unsigned char move[KM_MOUSE_REL_LEN] = {0, 100, 0xF6, 0};    // +100, -10
    const unsigned char press[KM_MOUSE_REL_LEN] = {1, 5, 0, 0};        // left down
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ch.send(CMD_KM_MOUSE_REL, KM_MOUSE_REL_LEN, move));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ch.send(CMD_KM_MOUSE_REL, KM_MOUSE_REL_LEN, press));
    std::vector<std::vector<uint8_t> > got;
    for (const auto& f : ch.queued())
        got.push_back(km_plain_body(f));
    // 300 in x and -30 in y, the x split at the report's range; the press
    // keeps its own report and position, the drag after it is merged.
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 0, 127, uint8_t(-20), 0}));
    EXPECT_EQ(got[1], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 0, 127, uint8_t(-10), 0}));
    EXPECT_EQ(got[2], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 0, 46, 0, 0}));
    EXPECT_EQ(got[3], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 1, 5, 0, 0}));
    EXPECT_EQ(got[4], (std::vector<uint8_t>{CMD_KM_MOUSE_REL, 1, 10, 0, 0}));

    // The alignment's plain movements waiting last give way to an absolute
    // position; those before a key stay where they are.
    ch.clear();
    const unsigned char park[KM_MOUSE_REL_LEN] = {0, 0x81, 0x81, 0};  // -127, -127
    const unsigned char key[KM_KEYBOARD_LEN] = {0, 0, 0x04, 0, 0, 0, 0, 0};
    const auto abs = km_mouse_abs_payload(KM_ABS_NONE, 500, 400, 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ch.send(CMD_KM_MOUSE_REL, KM_MOUSE_REL_LEN, park));
    ASSERT_TRUE(ch.send(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, key));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(ch.send(CMD_KM_MOUSE_REL, KM_MOUSE_REL_LEN, park));
    ASSERT_TRUE(ch.send(CMD_KM_MOUSE_ABS, KM_MOUSE_ABS_LEN, abs.data()));
    got.clear();
    for (const auto& f : ch.queued())
        got.push_back(km_plain_body(f));
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[2][0], CMD_KM_MOUSE_REL);
    EXPECT_EQ(got[3][0], CMD_KM_KEYBOARD);
    EXPECT_EQ(got[4], (std::vector<uint8_t>{CMD_KM_MOUSE_ABS, 0, 0xF4, 0x01, 0x90, 0x01, 0}));
    ch.stop();
}

TEST(SessionChannels, AMediaPortClosedAtStartIsConnectedWhenItOpens)
{
    test_application();
    test_device d;
    ASSERT_TRUE(d.started);
    d.dev->media().refuse_for(3000);
    // The device stops listening on its own thread.
    ASSERT_TRUE(wait_until(
        [&] { return !connect_endpoint("127.0.0.1", d.dev->port_media(), 1000, nullptr); }, 2000));
    c_media_protocol media;
    EXPECT_FALSE(media.connect_channel("127.0.0.1", d.dev->port_media()));
    const std::string expect = "127.0.0.1:" + std::to_string(d.dev->port_media()) + " \u2014 Connection refused";
    EXPECT_EQ(media.connect_error(), expect);
    media.start_channel(42);
    EXPECT_EQ(media.state(), channel_state::reconnecting);
    EXPECT_TRUE(wait_until([&] { return media.state() == channel_state::connected; }, 15000))
        << channel_state_name(media.state());
    EXPECT_EQ(d.dev->media().connections(), 1);
    media.shutdown();
}
