#pragma once
// One broken or hostile device against the real viewer: the devsim program
// takes "fault" commands, the viewer (the start-up probe build, whose logger
// writes to standard output) runs under a private Xvfb with a disk image
// mapped through its media dialog, and every session ends with the same
// checks: the viewer is still up, it still repaints and it closes within 2 s,
// it logged the problem, the image holds exactly the bytes expected and
// nothing else in its directory was written.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/fat_image.h"
#include "common/screen_match.h"
#include "common/viewer_ui.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

class FaultSession : public ::testing::Test
{
protected:
    using clock_type = std::chrono::steady_clock;
    static constexpr const char* k_title_prefix = "Orvane V2.1";
    static constexpr int k_image_sectors = 2048;  // 1 MiB
    static constexpr int k_close_limit_ms = 2000;
    static constexpr QRgb k_corner_mark = qRgb(255, 200, 0);
    static constexpr int k_poll_ms = 50;  // screenshots and the growing log are costly to look at

    // One X server for all sessions of a test program.
    static void SetUpTestSuite() { s_x = new x11_display(1600, 1000); }
    static void TearDownTestSuite()
    {
        delete s_x;
        s_x = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // KVM_KEEP_FAULT_DIRS=1 keeps each test's directory (logs, events, images) for a look afterwards.
        if (qEnvironmentVariableIsSet("KVM_KEEP_FAULT_DIRS")) {
            m_dir.setAutoRemove(false);
            std::printf("fault test directory: %s\n", qPrintable(m_dir.path()));
        }
        ASSERT_TRUE(s_x && s_x->ok()) << "Xvfb did not start";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) << "xdotool is missing";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(PROBE_PATH), m_dir.path(), &m_viewerExe));
        m_image = path("disk.img");
        m_expected = pattern_bytes(k_image_sectors * 512, 11);
        ASSERT_TRUE(write_file(m_image, m_expected));
        m_dev.proc.setStandardErrorFile(path("devsim.err"));
        ASSERT_TRUE(m_dev.start(QStringLiteral(DEVSIM_PATH),
                                {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                                 QStringLiteral("640x480"), QStringLiteral("--fps"), QStringLiteral("15"),
                                 QStringLiteral("--events"), path("events.jsonl"), QStringLiteral("--media-out"),
                                 path("devsim-copy.img")},
                                m_dir.path()));
    }

    void TearDown() override
    {
        if (m_viewer)
            m_viewer->kill();
        m_dev.stop();
    }

    x11_display& x() { return *s_x; }
    QString path(const char* name) const { return QDir(m_dir.path()).filePath(QString::fromLatin1(name)); }
    std::vector<QJsonObject> events() const { return read_devsim_events(path("events.jsonl")); }

    // devsim's reply to one command line.
    QString device(const QString& line) { return m_dev.command(line); }

    // ------------------------------------------------------------ session

    // Starts the viewer, waits until its three channels are up and devsim's
    // picture shows, maps the disk image and lets devsim read all of it, then
    // has devsim write a run of sectors. Returns the main window (0: failed;
    // the test has then failed already).
    Window start_session()
    {
        ++m_session;
        m_before = snapshot();
        m_viewer = std::make_unique<viewer_process>();
        m_viewer->proc.setStandardOutputFile(log_file());
        m_viewer->proc.setStandardErrorFile(QDir(m_dir.path()).filePath(QStringLiteral("viewer-%1.err").arg(m_session)));
        if (!m_viewer->start(m_viewerExe, m_dev.launch, QString::fromStdString(x().name()))) {
            ADD_FAILURE() << "the viewer did not start";
            return 0;
        }
        const Window w = x().wait_window(k_title_prefix, true, 20000);
        if (!w) {
            ADD_FAILURE() << "no main window";
            return 0;
        }
        for (const char* up : {"video.userID.ack,success", "km recv userID  ack,value=0", "vm,, recv userID ack,value=0"})
            if (!wait_log(up, 10000)) {
                ADD_FAILURE() << "no \"" << up << "\" in the viewer's log";
                return 0;
            }
        if (!wait_until([&] { return shows_picture(w); }, 20000, k_poll_ms)) {
            ADD_FAILURE() << "devsim's picture never showed";
            return 0;
        }
        if (!map_image(w) || !write_sectors(300, 24, 100 + uint32_t(m_session)))
            return 0;
        return w;
    }

    // The viewer's log (its standard output) so far.
    QString log_text() const
    {
        QFile f(log_file());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool wait_log(const char* text, int timeout_ms = 5000) const
    {
        return wait_until([&] { return log_text().contains(QString::fromUtf8(text)); }, timeout_ms, k_poll_ms);
    }

    int log_count(const char* text) const { return log_text().count(QString::fromUtf8(text)); }

    bool viewer_running() const { return m_viewer && m_viewer->proc.state() == QProcess::Running; }

    // devsim's picture is on screen: its yellow corner marks in the window.
    bool shows_picture(Window w)
    {
        x().move_pointer(1599, 999);
        const QImage shot = x().screenshot();
        const QRect g = x().geometry(w).intersected(shot.rect());
        for (int y = g.top(); y <= g.bottom(); y += 2)
            for (int xx = g.left(); xx <= g.right(); xx += 2)
                if (near(shot.pixel(xx, y), k_corner_mark, 40))
                    return true;
        return false;
    }

    // The window draws again what another window covered: a magenta window
    // over its middle is taken away, and the area must be repainted within
    // 2 s. X keeps no copy of a covered window, so a GUI thread that is stuck
    // leaves the magenta where it was.
    bool repaints(Window w)
    {
        const QRect g = x().geometry(w);
        const QRect cover(g.center() - QPoint(150, 100), QSize(300, 200));
        const QRgb magenta = qRgb(255, 0, 255);
        Display* d = x().dpy();
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = 0xFF00FF;
        const Window c = XCreateWindow(d, DefaultRootWindow(d), cover.x(), cover.y(), unsigned(cover.width()),
                                       unsigned(cover.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWOverrideRedirect | CWBackPixel, &a);
        XMapRaised(d, c);
        XSync(d, False);
        const bool covered =
            wait_until([&] { return near(x().screenshot().pixel(cover.center()), magenta, 8); }, 5000, k_poll_ms);
        XDestroyWindow(d, c);
        XSync(d, False);
        const bool redrawn = covered && wait_until(
                                            [&] {
                                                const QImage shot = x().screenshot();
                                                for (int i = -2; i <= 2; ++i)
                                                    if (near(shot.pixel(cover.center() + QPoint(i * 60, i * 40)),
                                                             magenta, 8))
                                                        return false;
                                                return true;
                                            },
                                            k_close_limit_ms, k_poll_ms);
        EXPECT_TRUE(covered) << "the magenta window never showed";
        EXPECT_TRUE(redrawn) << "the viewer did not repaint within " << k_close_limit_ms << " ms";
        return covered && redrawn;
    }

    // The checks every fault ends with while the viewer runs.
    void expect_alive_and_responsive(Window w)
    {
        EXPECT_TRUE(viewer_running()) << "the viewer ended";
        if (viewer_running())
            repaints(w);
    }

    // Closes the main window: exit code 0 within 2 s; then the image and
    // the directory are checked.
    void close_session(Window w)
    {
        ASSERT_TRUE(viewer_running()) << "the viewer ended before it was closed";
        const auto t0 = clock_type::now();
        x().request_close(w);
        const int rc = m_viewer->wait_exit(10000);
        const long ms =
            long(std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - t0).count());
        EXPECT_EQ(rc, 0);
        EXPECT_LT(ms, k_close_limit_ms) << "closing took " << ms << " ms";
        expect_disk_and_directory();
        m_viewer.reset();
    }

    // The image holds exactly the bytes expected; nothing but the viewer's
    // own files changed in its directory.
    void expect_disk_and_directory()
    {
        const QByteArray now = read_file(m_image);
        EXPECT_EQ(now.size(), m_expected.size()) << "the image changed size";
        if (now != m_expected) {
            int first = 0;
            while (first < now.size() && first < m_expected.size() && now[first] == m_expected[first])
                ++first;
            ADD_FAILURE() << "the image differs from the expected bytes, first at sector " << first / 512;
        }
        const QMap<QString, QString> after = snapshot();
        for (auto it = after.begin(); it != after.end(); ++it) {
            if (m_before.value(it.key()) == it.value() || it.key() == QLatin1String("disk.img"))
                continue;
            const QString& name = it.key();
            const bool own = name.startsWith(QLatin1String("log/")) || name == QLatin1String("clientSize.config") ||
                             name.startsWith(QLatin1String("viewer-")) || name.startsWith(QLatin1String("devsim")) ||
                             name == QLatin1String("events.jsonl") || name.startsWith(QLatin1String("chunk-"));
            EXPECT_TRUE(own) << "written outside the disk image: " << name.toStdString();
        }
        for (auto it = m_before.begin(); it != m_before.end(); ++it)
            EXPECT_TRUE(after.contains(it.key())) << "removed: " << it.key().toStdString();
    }

    // ------------------------------------------------------------ disk

    // Maps the image through the media dialog and waits until devsim has
    // read all of it (and found it equal to the image); the dialog is closed.
    bool map_image(Window main)
    {
        viewer_ui ui(x(), QStringLiteral(KVM_SOURCE_DIR));
        const int maps = count_events("media", "map");
        const int reads = count_whole_reads();
        const Window dialog = ui.open_media_dialog(main);
        if (!dialog || !ui.choose_image(dialog, m_image) || !ui.press_map(dialog, false)) {
            ADD_FAILURE() << "the media dialog could not be driven";
            return false;
        }
        if (!wait_until([&] { return count_events("media", "map") > maps; }, 20000, k_poll_ms) ||
            !wait_until([&] { return count_whole_reads() > reads; }, 60000, k_poll_ms)) {
            ADD_FAILURE() << "devsim never read the whole image";
            return false;
        }
        EXPECT_EQ(read_file(path("devsim-copy.img")), m_expected) << "devsim read other bytes than the image's";
        if (!ui.close_dialog(dialog)) {
            ADD_FAILURE() << "the media dialog did not close";
            return false;
        }
        return true;
    }

    // devsim writes count sectors of new bytes from start; they become part
    // of the expected image once the viewer has written the last of them
    // and asked for the next status.
    bool write_sectors(int start, int count, uint32_t seed, int timeout_ms = 20000)
    {
        const QByteArray bytes = pattern_bytes(count * 512, seed);
        const QString chunk = path("chunk-") + QString::number(seed) + QStringLiteral(".bin");
        if (!write_file(chunk, bytes))
            return false;
        const int done = count_events("media", "write-done");
        const QString reply = device(QStringLiteral("write %1 %2").arg(start).arg(chunk));
        if (!reply.startsWith(QStringLiteral("ok"))) {
            ADD_FAILURE() << reply.toStdString();
            return false;
        }
        m_expected.replace(start * 512, bytes.size(), bytes);
        if (!wait_until([&] { return count_events("media", "write-done") > done && status_after_write(); },
                        timeout_ms, k_poll_ms)) {
            ADD_FAILURE() << "devsim's write of " << count << " sectors from " << start << " was not served";
            return false;
        }
        return true;
    }

    // ------------------------------------------------------------ events

    int count_events(const char* channel, const char* event) const
    {
        int n = 0;
        for (const QJsonObject& o : events())
            n += o.value(QLatin1String("event")).toString() == QLatin1String(event) &&
                 o.value(QLatin1String("channel")).toString() == QLatin1String(channel);
        return n;
    }

    int count_whole_reads() const
    {
        int n = 0;
        for (const QJsonObject& o : events())
            n += o.value(QLatin1String("event")).toString() == QLatin1String("read-done") &&
                 o.value(QLatin1String("whole")).toBool();
        return n;
    }

    // The viewer asked for the next status after the last write was done:
    // it sends that request only once it has written the batch's last sector.
    bool status_after_write() const
    {
        bool after = false;
        for (const QJsonObject& o : events()) {
            const QString ev = o.value(QLatin1String("event")).toString();
            if (ev == QLatin1String("write-done"))
                after = false;
            else if (ev == QLatin1String("recv") && o.value(QLatin1String("channel")).toString() == QLatin1String("media") &&
                     o.value(QLatin1String("fields")).toObject().value(QLatin1String("name")).toString() ==
                         QLatin1String("status"))
                after = true;
        }
        return after;
    }

    QString fault(const QString& channel, const QString& kind)
    {
        const QString reply = device(QStringLiteral("fault %1 %2").arg(channel, kind));
        EXPECT_TRUE(reply.startsWith(QStringLiteral("ok"))) << reply.toStdString();
        return reply;
    }

    QByteArray m_expected;  // what the image must hold

private:
    QString log_file() const { return QDir(m_dir.path()).filePath(QStringLiteral("viewer-%1.out").arg(m_session)); }

    // Every file under the directory: relative path -> size and modification time.
    QMap<QString, QString> snapshot() const
    {
        QMap<QString, QString> out;
        QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            const QFileInfo fi = it.fileInfo();
            out.insert(QDir(m_dir.path()).relativeFilePath(fi.filePath()),
                       QStringLiteral("%1 %2").arg(fi.size()).arg(fi.lastModified().toMSecsSinceEpoch()));
        }
        return out;
    }

    static inline x11_display* s_x = nullptr;
    QTemporaryDir m_dir;
    devsim_process m_dev;
    std::unique_ptr<viewer_process> m_viewer;
    QString m_viewerExe;
    QString m_image;
    QMap<QString, QString> m_before;
    int m_session = 0;
};
