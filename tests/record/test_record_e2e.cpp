// The real viewer under Xvfb against the devsim program: "Save Screenshot"
// from the key menu writes devsim's picture at its own size into the pictures
// directory; the tool bar's Record toggle writes about ten seconds of the
// stream that ffprobe and ffmpeg read back without an error; a recording
// running when the window closes is finished too. HOME and the XDG
// directories point into a temporary directory.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

#include "c_devsim_desktop.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

const int k_pic_w = 1280;
const int k_pic_h = 720;
const QRgb k_corner_mark = qRgb(255, 200, 0);
const QRgb k_record_dot = qRgb(220, 30, 30);

// The single file in dir matching pattern, or an empty string.
QString only_file(const QString& dir, const QString& pattern)
{
    const QStringList names = QDir(dir).entryList({pattern}, QDir::Files);
    return names.size() == 1 ? QDir(dir).filePath(names.front()) : QString();
}

struct probe
{
    QString codec;
    int width = 0, height = 0;
    double duration = -1;
};

probe ffprobe(const QString& file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
             QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name,width,height:format=duration"),
             QStringLiteral("-of"), QStringLiteral("default=nw=1"), file});
    probe r;
    if (!p.waitForFinished(30000))
        return r;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QString key = line.section(QLatin1Char('='), 0, 0), value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("codec_name"))
            r.codec = value;
        else if (key == QLatin1String("width"))
            r.width = value.toInt();
        else if (key == QLatin1String("height"))
            r.height = value.toInt();
        else if (key == QLatin1String("duration"))
            r.duration = value.toDouble();
    }
    return r;
}

// What `ffmpeg -v error -i file -f null -` says (empty: decoded cleanly).
QString ffmpeg_errors(const QString& file)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                       QStringLiteral("-i"), file, QStringLiteral("-f"), QStringLiteral("null"),
                                       QStringLiteral("-")});
    if (!p.waitForFinished(60000))
        return QStringLiteral("ffmpeg did not finish");
    QString out = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (p.exitCode() != 0)
        out += QStringLiteral(" (exit code %1)").arg(p.exitCode());
    return out;
}

class RecordE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        // The viewer inherits these: nothing it saves lands in the real home.
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral(".local/share")).toUtf8());
        qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral(".cache")).toUtf8());
        qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral(".local/state")).toUtf8());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), home.path(), &viewer_exe));
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                               QStringLiteral("%1x%2").arg(k_pic_w).arg(k_pic_h), QStringLiteral("--fps"),
                               QStringLiteral("30"), QStringLiteral("--events"), QString()},
                              home.path()));
    }

    // The tool bar strip at the window's left edge (up to where the label's
    // background starts, seen in the letterbox at the bottom right).
    QRect tool_bar(const QImage& shot, const QRect& g, QRgb* background) const
    {
        const int y = g.bottom() - 1;
        *background = shot.pixel(g.left() + 1, y);
        const QRgb label = shot.pixel(g.right() - 1, y);
        int x = g.left();
        while (x <= g.right() && !near(shot.pixel(x, y), label, 2))
            ++x;
        return QRect(g.left(), g.top(), x - g.left(), g.height());
    }

    // Centre of the Record toggle's red dot in the tool bar, or (-1, -1).
    QPoint record_button(const QImage& shot, const QRect& strip) const
    {
        long sx = 0, sy = 0, n = 0;
        for (int y = strip.top(); y <= strip.bottom(); ++y)
            for (int x = strip.left(); x <= strip.right(); ++x)
                if (near(shot.pixel(x, y), k_record_dot, 30)) {
                    sx += x;
                    sy += y;
                    ++n;
                }
        return n > 20 ? QPoint(int(sx / n), int(sy / n)) : QPoint(-1, -1);
    }

    void press(unsigned long keysym) const
    {
        const KeyCode code = XKeysymToKeycode(x.dpy(), KeySym(keysym));
        XTestFakeKeyEvent(x.dpy(), code, True, CurrentTime);
        XTestFakeKeyEvent(x.dpy(), code, False, CurrentTime);
        XSync(x.dpy(), False);
    }

    QString dir_of(const char* name) const { return home.filePath(QString::fromLatin1(name)); }

    QTemporaryDir home;
    x11_display x;
    devsim_process dev;
    viewer_process viewer;
    QString viewer_exe;
};

}  // namespace

TEST_F(RecordE2E, ScreenshotAtPictureSizeAndRecordingThatDecodes)
{
    ASSERT_TRUE(viewer.start(viewer_exe, dev.launch, QString::fromStdString(x.name())));
    const Window w = x.wait_window("Orvane V2.1", true, 20000);
    ASSERT_NE(w, Window(0));
    const QRect g = x.geometry(w);

    // devsim's picture is on screen (its yellow corner marks); the pointer
    // stays off the picture so the remote pointer does not move into it.
    x.move_pointer(g.left() + 2, g.bottom() - 2);
    ASSERT_TRUE(wait_until(
        [&] {
            const QImage shot = x.screenshot();
            for (int y = g.top(); y <= g.bottom(); y += 2)
                for (int xx = g.left(); xx <= g.right(); xx += 2)
                    if (near(shot.pixel(xx, y), k_corner_mark, 40))
                        return true;
            return false;
        },
        20000, 100));

    const QImage shot = x.screenshot();
    QRgb barColour = 0;
    const QRect strip = tool_bar(shot, g, &barColour);
    ASSERT_GT(strip.width(), 10);

    // Key menu button, then the last entry but one (Up from no selection
    // goes to the last), Return.
    const icon_hit menu = find_icon(
        shot, strip, QImage(QStringLiteral(KVM_SOURCE_DIR "/resources/images/win.png")), barColour);
    ASSERT_LT(menu.err, 4.0);
    const size_t windows = x.find_windows("", true).size();
    x.click(menu.centre().x(), menu.centre().y());
    ASSERT_TRUE(wait_until([&] { return x.find_windows("", true).size() > windows; }, 5000)) << "no menu opened";
    press(XK_Up);
    press(XK_Up);
    press(XK_Return);
    const QString pictures = dir_of("Pictures");
    QString png;
    ASSERT_TRUE(wait_until(
        [&] {
            png = only_file(pictures, QStringLiteral("screenshot-*.png"));
            return !png.isEmpty();
        },
        10000, 20))
        << "no screenshot in " << pictures.toStdString();

    // The PNG: the picture at its own size, matching what devsim encoded on
    // the still part of its desktop within the losses of compression.
    const QImage saved(png);
    ASSERT_EQ(saved.size(), QSize(k_pic_w, k_pic_h));
    c_devsim_desktop desktop(k_pic_w, k_pic_h);
    QImage reference;
    ASSERT_TRUE(desktop.grab(reference, devsim_view{}));
    int compared = 0, matched = 0;
    for (int rx = 1040; rx < 1250; rx += 23)
        for (int ry = 90; ry < 380; ry += 17) {
            if (rx % 64 < 6 || rx % 64 > 58 || ry % 64 < 6 || ry % 64 > 58)
                continue;
            ++compared;
            matched += near(saved.pixel(rx, ry), reference.pixel(rx, ry), 14);
        }
    ASSERT_GT(compared, 50);
    EXPECT_GE(matched, compared * 95 / 100) << matched << " of " << compared;

    // Record: the file gets its header with the first key frame; from then
    // on it runs ten seconds, then the toggle stops it.
    const QPoint rec = record_button(x.screenshot(), strip);
    ASSERT_GE(rec.x(), 0) << "no Record toggle on the tool bar";
    const QString videos = dir_of("Videos");
    x.click(rec.x(), rec.y());
    QString mkv;
    ASSERT_TRUE(wait_until(
        [&] {
            mkv = only_file(videos, QStringLiteral("recording-*.mkv"));
            return !mkv.isEmpty() && QFileInfo(mkv).size() > 0;
        },
        10000, 10));
    const auto started = clock_type::now();
    // The length of the recording, not a wait for something to happen.
    std::this_thread::sleep_for(std::chrono::seconds(10));
    x.click(rec.x(), rec.y());
    const double expected =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - started).count() / 1000.0;

    // Stopped: the trailer (with the duration) is written by then.
    probe p;
    ASSERT_TRUE(wait_until(
        [&] {
            p = ffprobe(mkv);
            return p.duration > 0;
        },
        10000, 200));
    EXPECT_EQ(p.codec, QStringLiteral("h264"));
    EXPECT_EQ(p.width, k_pic_w);
    EXPECT_EQ(p.height, k_pic_h);
    EXPECT_NEAR(p.duration, 10.0, 1.0);
    EXPECT_NEAR(p.duration, expected, 1.0);
    EXPECT_EQ(ffmpeg_errors(mkv).toStdString(), std::string());

    // A recording still running when the window closes is finished as well.
    x.click(rec.x(), rec.y());
    QString second;
    ASSERT_TRUE(wait_until(
        [&] {
            const QStringList names = QDir(videos).entryList({QStringLiteral("recording-*.mkv")}, QDir::Files);
            for (const QString& n : names)
                if (QDir(videos).filePath(n) != mkv && QFileInfo(QDir(videos).filePath(n)).size() > 0)
                    second = QDir(videos).filePath(n);
            return !second.isEmpty();
        },
        10000, 10));
    x.request_close(w);
    EXPECT_EQ(viewer.wait_exit(10000), 0);
    const probe q = ffprobe(second);
    EXPECT_EQ(q.codec, QStringLiteral("h264"));
    EXPECT_GT(q.duration, 0.0);
    EXPECT_EQ(ffmpeg_errors(second).toStdString(), std::string());

    // And one running when the video channel is lost: devsim drops it, the
    // viewer connects again and the recording goes on in the same file, its
    // time stamps covering the break.
    viewer_process again;
    ASSERT_TRUE(again.start(viewer_exe, dev.launch, QString::fromStdString(x.name())));
    ASSERT_TRUE(wait_until([&] { return !x.find_windows("Orvane V2.1", true).empty(); }, 20000, 100));
    const QStringList before = QDir(videos).entryList({QStringLiteral("recording-*.mkv")}, QDir::Files);
    QString third;
    ASSERT_TRUE(wait_until(
        [&] {
            // The tool bar is where it was: same size, same place.
            if (third.isEmpty() && QDir(videos).entryList({QStringLiteral("recording-*.mkv")}, QDir::Files) == before)
                x.click(rec.x(), rec.y());
            for (const QString& n : QDir(videos).entryList({QStringLiteral("recording-*.mkv")}, QDir::Files))
                if (!before.contains(n) && QFileInfo(QDir(videos).filePath(n)).size() > 0)
                    third = QDir(videos).filePath(n);
            return !third.isEmpty();
        },
        20000, 500));
    const auto third_started = clock_type::now();
    // The recording's length on either side of the break, not waits.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_TRUE(dev.command(QStringLiteral("close video")).startsWith(QStringLiteral("ok")));
    std::this_thread::sleep_for(std::chrono::seconds(4));
    x.click(rec.x(), rec.y());
    const double wall =
        std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - third_started).count() / 1000.0;
    probe r;
    EXPECT_TRUE(wait_until(
        [&] {
            r = ffprobe(third);
            return r.duration > 0;
        },
        10000, 200))
        << "the recording was not finished when it was stopped";
    EXPECT_EQ(r.codec, QStringLiteral("h264"));
    EXPECT_NEAR(r.duration, wall, wall / 10);
    EXPECT_EQ(ffmpeg_errors(third).toStdString(), std::string());
    QStringList made = QDir(videos).entryList({QStringLiteral("recording-*.mkv")}, QDir::Files);
    for (const QString& n : before)
        made.removeAll(n);
    EXPECT_EQ(made, QStringList{QFileInfo(third).fileName()});
    EXPECT_EQ(again.proc.state(), QProcess::Running);
}
