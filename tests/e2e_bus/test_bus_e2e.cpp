// Scripts drive the real viewer through h264video-ctl over a session bus of
// the test's own: typing, chords, screenshots, waits for a picture, mapping
// an image, refusals, and typing cut short with the count it reports. The
// viewer runs on the offscreen platform; devsim plays the device on 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/session_bus.h"
#include "common/wait_until.h"

namespace {

const int k_pic_w = 1280;
const int k_pic_h = 720;

class BusE2E : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(bus.start()) << "dbus-daemon did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &viewer_exe));
        events = dir.filePath(QStringLiteral("events.jsonl"));
        const QStringList args = QStringList{QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                                             QStringLiteral("%1x%2").arg(k_pic_w).arg(k_pic_h),
                                             QStringLiteral("--fps"), QStringLiteral("10"), QStringLiteral("--no-read"),
                                             QStringLiteral("--events"), events, QStringLiteral("--events-hex-max"),
                                             QStringLiteral("0")} +
                                 devsim_extra();
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH), args, dir.path()));
        env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"})
            env.remove(QString::fromLatin1(v));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        viewer.setProcessEnvironment(env);
        end_with_the_test(viewer);
        viewer.start(viewer_exe, {dev.launch});
        ASSERT_TRUE(viewer.waitForStarted(10000));
        // Ready once the status shows the picture and write privilege.
        ASSERT_TRUE(wait_until(
            [&] {
                const QJsonObject s = status();
                return s.value(QStringLiteral("writePrivilege")).toBool() &&
                       s.value(QStringLiteral("picture")).toString() == QStringLiteral("%1x%2").arg(k_pic_w).arg(k_pic_h);
            },
            30000, 100))
            << "the viewer never offered a session with a picture; " << viewer.readAllStandardError().toStdString();
    }

    // More devsim options for a fixture of its own.
    virtual QStringList devsim_extra() const { return {}; }

    void TearDown() override
    {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(5000);
        }
        dev.stop();
        bus.stop();
    }

    // Runs h264video-ctl to its end: exit code (-1 when it did not end).
    int ctl(const QStringList& args, QString* out = nullptr, QString* err = nullptr, int timeout_ms = 60000)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CTL_PATH), args);
        if (!p.waitForFinished(timeout_ms)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput());
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }

    QJsonObject status()
    {
        QString out;
        if (ctl({QStringLiteral("status")}, &out) != 0)
            return QJsonObject();
        return QJsonDocument::fromJson(out.toUtf8()).object();
    }

    // Keyboard reports devsim received that hold a key, from the from-th on.
    int key_presses(size_t from = 0)
    {
        int n = 0;
        const auto reports = devsim_km_received(events, "keyboard");
        for (size_t i = from; i < reports.size(); ++i) {
            const QByteArray b = QByteArray::fromHex(reports[i].value(QStringLiteral("hex")).toString().toLatin1());
            if (b.size() == 9 && b[3] != 0)
                ++n;
        }
        return n;
    }

    QTemporaryDir dir;
    session_bus_process bus;
    devsim_process dev;
    QProcess viewer;
    QProcessEnvironment env;
    QString viewer_exe;
    QString events;
};

TEST_F(BusE2E, ScriptTypesPressesLooksWaitsAndMaps)
{
    // Typing through the remote layout arrives as typed.
    QString out, err;
    ASSERT_EQ(ctl({QStringLiteral("type"), QStringLiteral("hello world")}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("typed 11 characters"))) << out.toStdString();
    ASSERT_TRUE(wait_until([&] { return dev.status().value(QStringLiteral("typed")).toString().endsWith(
                                     QStringLiteral("hello world")); },
                           10000, 50))
        << dev.status().value(QStringLiteral("typed")).toString().toStdString();

    // A chord by names: pressed together, then everything let go.
    const size_t before = devsim_km_received(events, "keyboard").size();
    ASSERT_EQ(ctl({QStringLiteral("key"), QStringLiteral("ctrl+alt+Delete")}, nullptr, &err), 0) << err.toStdString();
    ASSERT_TRUE(wait_until([&] { return devsim_km_received(events, "keyboard").size() >= before + 2; }, 10000, 50));
    const auto reports = devsim_km_received(events, "keyboard");
    const QByteArray press = QByteArray::fromHex(reports[before].value(QStringLiteral("hex")).toString().toLatin1());
    const QByteArray release =
        QByteArray::fromHex(reports[before + 1].value(QStringLiteral("hex")).toString().toLatin1());
    ASSERT_EQ(press.size(), 9);
    EXPECT_EQ(uint8_t(press[1]) & 0x05, 0x05) << "Ctrl and Alt held";  // left Ctrl 0x01, left Alt 0x04
    EXPECT_EQ(uint8_t(press[3]), 0x4c) << "Delete";
    EXPECT_EQ(release, press.left(1) + QByteArray(8, '\0')) << "all let go";
    EXPECT_NE(ctl({QStringLiteral("key"), QStringLiteral("ctrl+Nokey")}, nullptr, &err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("Nokey"))) << err.toStdString();

    // The screenshot is devsim's picture at its own size: the yellow corner
    // marks and the blue gradient where devsim draws them.
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    ASSERT_EQ(ctl({QStringLiteral("screenshot"), shot}, nullptr, &err), 0) << err.toStdString();
    const QImage picture(shot);
    ASSERT_EQ(picture.size(), QSize(k_pic_w, k_pic_h));
    EXPECT_TRUE(near(picture.pixel(12, 1), qRgb(255, 200, 0), 48)) << std::hex << picture.pixel(12, 1);
    EXPECT_TRUE(near(picture.pixel(k_pic_w - 14, k_pic_h - 4), qRgb(255, 200, 0), 48))
        << std::hex << picture.pixel(k_pic_w - 14, k_pic_h - 4);
    EXPECT_TRUE(near(picture.pixel(40, 40), qRgb(18, 44, 87), 24)) << std::hex << picture.pixel(40, 40);

    // A region that is on the picture matches; one that never is times out.
    const QString ref = dir.filePath(QStringLiteral("corner.png"));
    ASSERT_TRUE(picture.copy(0, 0, 48, 48).save(ref));
    ASSERT_EQ(ctl({QStringLiteral("wait-match"), ref, QStringLiteral("--region"), QStringLiteral("0,0,48,48"),
                   QStringLiteral("--timeout"), QStringLiteral("20")},
                  nullptr, &err),
              0)
        << err.toStdString();
    QImage absent = picture.copy(0, 0, 48, 48);
    absent.invertPixels();
    const QString absentRef = dir.filePath(QStringLiteral("absent.png"));
    ASSERT_TRUE(absent.save(absentRef));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ctl({QStringLiteral("wait-match"), absentRef, QStringLiteral("--region"), QStringLiteral("0,0,48,48"),
                   QStringLiteral("--timeout"), QStringLiteral("2")},
                  nullptr, &err),
              1);
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_TRUE(err.contains(QStringLiteral("no match"))) << err.toStdString();

    // devsim's block moves in every picture: the screen never settles.
    EXPECT_EQ(ctl({QStringLiteral("wait-stable"), QStringLiteral("500"), QStringLiteral("--timeout"),
                   QStringLiteral("2")},
                  nullptr, &err),
              1);
    EXPECT_TRUE(err.contains(QStringLiteral("did not stay unchanged"))) << err.toStdString();

    // Mapping read-only: the map message carries flags 0x81 and the size.
    const QString image = dir.filePath(QStringLiteral("disk.img"));
    {
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(3 * 1024 * 1024));
    }
    ASSERT_EQ(ctl({QStringLiteral("map"), image, QStringLiteral("--read-only")}, nullptr, &err), 0) << err.toStdString();
    QJsonObject map;
    ASSERT_TRUE(wait_until(
        [&] {
            for (const QJsonObject& e : read_devsim_events(events))
                if (e.value(QStringLiteral("event")).toString() == QLatin1String("map"))
                    map = e;
            return !map.isEmpty();
        },
        20000, 100));
    EXPECT_EQ(map.value(QStringLiteral("flags")).toInt(), 0x81);
    EXPECT_EQ(map.value(QStringLiteral("sectors")).toInteger(), 3 * 1024 * 2);
    EXPECT_EQ(status().value(QStringLiteral("mapped")).toString(), image);
    EXPECT_NE(ctl({QStringLiteral("map"), dir.filePath(QStringLiteral("none.img"))}, nullptr, &err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("not found"))) << err.toStdString();
}

TEST_F(BusE2E, TypingCutShortSaysHowFarAndRefusalsSayWhy)
{
    // A long text is typed while devsim cuts it short; returns the count the
    // error line gives and the keyboard reports devsim had before it started.
    const QString text = QString(QStringLiteral("abcdefghij")).repeated(2000);
    auto cut_short = [&](const QString& command, const QString& reason, size_t* reports_before) {
        *reports_before = devsim_km_received(events, "keyboard").size();
        const int base = dev.status().value(QStringLiteral("kmReceived")).toInt();
        QProcess typing;
        typing.setProcessEnvironment(env);
        typing.start(QStringLiteral(CTL_PATH), {QStringLiteral("type"), text});
        if (!typing.waitForStarted(10000))
            return -1;
        const bool going = wait_until(
            [&] { return dev.status().value(QStringLiteral("kmReceived")).toInt() > base + 400; }, 30000, 20);
        EXPECT_TRUE(going) << "typing did not start";
        EXPECT_TRUE(dev.command(command).startsWith(QStringLiteral("ok")));
        if (!typing.waitForFinished(60000))
            return -1;
        EXPECT_EQ(typing.exitCode(), 1);
        const QString err = QString::fromUtf8(typing.readAllStandardError());
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("typed (\\d+) of 20000 characters; ") + reason).match(err);
        EXPECT_TRUE(m.hasMatch()) << err.toStdString();
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };

    // Write privilege taken away: what was handed to the channel still
    // arrives and is counted, so devsim got exactly the count given.
    size_t from = 0;
    int typed = cut_short(QStringLiteral("privilege 0"), QStringLiteral("write privilege was lost"), &from);
    EXPECT_GT(typed, 100);
    EXPECT_EQ(key_presses(from), typed);

    // The keyboard channel closed: everything the device answered is counted.
    // A report it logged and closed before answering cannot be known to the
    // viewer, so devsim may hold one more than the count, never fewer.
    EXPECT_TRUE(dev.command(QStringLiteral("privilege 1")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(wait_until([&] { return status().value(QStringLiteral("writePrivilege")).toBool(); }, 20000, 100));
    typed = cut_short(QStringLiteral("close km"), QStringLiteral("the keyboard channel was lost"), &from);
    EXPECT_GT(typed, 100);
    const int got = key_presses(from);
    EXPECT_GE(got, typed);
    EXPECT_LE(got, typed + 1);

    // Back again, then refused for good: typing and keys fail with the reason.
    ASSERT_TRUE(wait_until(
        [&] { return status().value(QStringLiteral("keyboard")).toString() == QLatin1String("connected"); }, 30000,
        100));
    EXPECT_TRUE(dev.command(QStringLiteral("refuse 600000 km")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(wait_until(
        [&] { return status().value(QStringLiteral("keyboard")).toString() != QLatin1String("connected"); }, 30000,
        100));
    QString why;
    EXPECT_EQ(ctl({QStringLiteral("type"), QStringLiteral("x")}, nullptr, &why), 1);
    EXPECT_TRUE(why.contains(QStringLiteral("keyboard channel is down"))) << why.toStdString();
    EXPECT_EQ(why.count(QLatin1Char('\n')), 1) << why.toStdString();
    EXPECT_EQ(ctl({QStringLiteral("key"), QStringLiteral("F2")}, nullptr, &why), 1);
    EXPECT_TRUE(why.contains(QStringLiteral("keyboard channel is down"))) << why.toStdString();
}

// devsim sends a few pictures per connection and then nothing: a screen
// standing still.
class StillBusE2E : public BusE2E
{
public:
    QStringList devsim_extra() const override { return {QStringLiteral("--pictures"), QStringLiteral("15")}; }
};

TEST_F(StillBusE2E, WaitStableAnswersOnceThePictureStandsStill)
{
    QString err;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ctl({QStringLiteral("wait-stable"), QStringLiteral("1000"), QStringLiteral("--timeout"),
                   QStringLiteral("20")},
                  nullptr, &err),
              0)
        << err.toStdString();
    EXPECT_GE(clock.elapsed(), 1000);
}

}  // namespace
