// Hostile local files and launch values against the real viewer (its start-up
// probe build) under Xvfb with devsim: a window size file that is huge, has no
// line end or is no file at all; a device repeating its LED report with the
// lock companion beside the viewer; ports beyond 16 bits; the media dialog
// left open when the main window is closed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/viewer_ui.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

constexpr const char* k_title_prefix = "Orvane V2.1";
constexpr int k_screen_w = 1600;
constexpr int k_screen_h = 1000;
constexpr int k_close_limit_ms = 2000;

class LocalFaults : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_x = new x11_display(k_screen_w, k_screen_h); }
    static void TearDownTestSuite()
    {
        delete s_x;
        s_x = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(s_x && s_x->ok()) << "Xvfb did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(PROBE_PATH), m_dir.path(), &m_exe));
        m_dev.proc.setStandardErrorFile(path("devsim.err"));
        ASSERT_TRUE(m_dev.start(QStringLiteral(DEVSIM_PATH),
                                {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                                 QStringLiteral("320x240"), QStringLiteral("--fps"), QStringLiteral("10"),
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

    QString path(const char* name) const { return QDir(m_dir.path()).filePath(QString::fromLatin1(name)); }

    bool start_viewer(const QString& launch)
    {
        ++m_run;
        m_viewer = std::make_unique<viewer_process>();
        m_viewer->proc.setStandardOutputFile(out_file());
        m_viewer->proc.setStandardErrorFile(err_file());
        return m_viewer->start(m_exe, launch, QString::fromStdString(s_x->name()));
    }

    Window main_window(int timeout_ms = 20000) { return s_x->wait_window(k_title_prefix, true, timeout_ms); }

    QString read_text(const QString& file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString out_file() const { return path("viewer-") + QString::number(m_run) + QStringLiteral(".out"); }
    QString err_file() const { return path("viewer-") + QString::number(m_run) + QStringLiteral(".err"); }
    bool wait_log(const char* text, int timeout_ms = 10000) const
    {
        return wait_until([&] { return read_text(out_file()).contains(QString::fromUtf8(text)); }, timeout_ms, 50);
    }

    // Closes the main window: exit code 0 within the limit.
    void close_viewer(Window w)
    {
        const auto t0 = std::chrono::steady_clock::now();
        s_x->request_close(w);
        const int rc = m_viewer->wait_exit(10000);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        EXPECT_EQ(0, rc);
        EXPECT_LT(ms.count(), k_close_limit_ms);
        m_viewer.reset();
    }

    int connects(const char* channel) const
    {
        int n = 0;
        for (const QJsonObject& o : read_devsim_events(path("events.jsonl")))
            n += o.value(QLatin1String("event")).toString() == QLatin1String("connect") &&
                 o.value(QLatin1String("channel")).toString() == QLatin1String(channel);
        return n;
    }

    // The port devsim listens on for one launch string key.
    int launch_port(const char* key) const
    {
        const QString text = QString::fromLatin1(QByteArray::fromPercentEncoding(m_dev.launch.toLatin1()));
        const auto m = QRegularExpression(QString::fromLatin1(key) + QStringLiteral(":(\\d+)")).match(text);
        return m.hasMatch() ? m.captured(1).toInt() : 0;
    }

    static inline x11_display* s_x = nullptr;
    QTemporaryDir m_dir;
    devsim_process m_dev;
    std::unique_ptr<viewer_process> m_viewer;
    QString m_exe;
    int m_run = 0;
};

}  // namespace

TEST_F(LocalFaults, WindowSizeFileIsClampedToTheScreenAndReadBounded)
{
    const QString sizeFile = path("clientSize.config");
    struct variant
    {
        const char* name;
        std::function<bool()> make;
        bool huge;  // a size beyond the screen rather than no size at all
    };
    const std::vector<variant> variants = {
        {"huge size",
         [&] { QFile f(sizeFile); return f.open(QIODevice::WriteOnly) && f.write("100000,100000\n") > 0; }, true},
        {"200 MB without a line end",
         [&] { QFile f(sizeFile); return f.open(QIODevice::WriteOnly) && f.resize(200LL << 20); }, false},
        {"link to /dev/zero", [&] { return QFile::link(QStringLiteral("/dev/zero"), sizeFile); }, false},
        {"FIFO", [&] { return ::mkfifo(QFile::encodeName(sizeFile).constData(), 0600) == 0; }, false},
    };
    for (const variant& v : variants) {
        SCOPED_TRACE(v.name);
        QFile::remove(sizeFile);
        ASSERT_TRUE(v.make());
        ASSERT_TRUE(start_viewer(m_dev.launch));
        // Unbounded reading took the viewer seconds and gigabytes; a FIFO held it in open().
        const Window w = main_window(15000);
        ASSERT_NE(0u, w) << "no main window";
        const QRect g = s_x->geometry(w);
        EXPECT_LE(g.width(), k_screen_w);
        EXPECT_LE(g.height(), k_screen_h);
        EXPECT_GE(g.width(), 200);
        EXPECT_GE(g.height(), 120);
        if (!v.huge) {
            EXPECT_LT(g.width(), k_screen_w) << "not the default size";
        }
        close_viewer(w);
        // The size written back is one the next start takes as it is.
        if (v.huge) {
            const QStringList parts = read_text(sizeFile).trimmed().split(QLatin1Char(','));
            ASSERT_EQ(2, parts.size());
            EXPECT_LE(parts[0].toInt(), k_screen_w);
            EXPECT_LE(parts[1].toInt(), k_screen_h);
        }
    }
}

TEST_F(LocalFaults, LedStormStartsFewCompanionsAndNeverTwoAtOnce)
{
    // A stand-in for the lock companion that notes each start and whether
    // another instance was running then.
    const QString companion = path("kbl.exe");
    {
        QFile f(companion);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n"
                "d=$(dirname \"$0\")\n"
                "mkdir \"$d/kbl.lock\" 2>/dev/null || echo overlap >> \"$d/kbl.log\"\n"
                "echo \"start $(date +%s%N) $1 $2\" >> \"$d/kbl.log\"\n"
                "sleep 0.15\n"
                "rmdir \"$d/kbl.lock\"\n");
        f.close();
        ASSERT_TRUE(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    ASSERT_TRUE(start_viewer(m_dev.launch));
    const Window w = main_window();
    ASSERT_NE(0u, w);
    ASSERT_TRUE(wait_log("video.userID.ack,success"));

    // 200 reports, the state changing with each; the last one turns all three on.
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(m_dev.command(QStringLiteral("led %1").arg(i % 8)).startsWith(QStringLiteral("ok")));

    struct start
    {
        qint64 ns;
        int led, state;
    };
    std::vector<start> starts;
    bool overlap = false;
    const auto parse = [&] {
        starts.clear();
        const QString log = read_text(path("kbl.log"));
        overlap = log.contains(QStringLiteral("overlap"));
        for (const QString& line : log.split(QLatin1Char('\n'))) {
            const QStringList f = line.split(QLatin1Char(' '));
            if (f.size() == 4 && f[0] == QLatin1String("start"))
                starts.push_back({f[1].toLongLong(), f[2].toInt(), f[3].toInt()});
        }
        std::map<int, int> last;
        for (const start& s : starts)
            last[s.led] = s.state;
        return last == std::map<int, int>{{1, 1}, {2, 1}, {3, 1}} && !QFileInfo::exists(path("kbl.lock"));
    };
    EXPECT_TRUE(wait_until(parse, 20000, 50)) << "the last LED state was never set";
    EXPECT_FALSE(overlap) << "two companions ran at once";
    // Before: three processes per report, 600 in all.
    EXPECT_LT(starts.size(), 60u);
    for (size_t i = 0; i + 10 < starts.size(); ++i)
        EXPECT_GE(starts[i + 10].ns - starts[i].ns, 1000000000LL) << "more than 10 starts within a second";
    close_viewer(w);
}

TEST_F(LocalFaults, PortsBeyondSixteenBitsAreRefusedNotWrapped)
{
    // KM and video: the connect error box, the reason in the log, exit code 0
    // once the box is closed, and no connection to the port the value would
    // wrap to.
    struct
    {
        const char* key;
        const char* channel;
        const char* text;
    } cases[] = {{"portKM", "km", "KM connect error"}, {"portV", "video", "Video connect error"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const int port = launch_port(c.key);
        ASSERT_GT(port, 0);
        const int before = connects(c.channel);
        ASSERT_TRUE(start_viewer(m_dev.launch_with(QString::fromLatin1(c.key), QString::number(65536 + port))));
        const Window box = s_x->wait_window("Error", false, 20000);
        ASSERT_NE(0u, box) << "no connect error box";
        const QString reason = QStringLiteral("%1: 127.0.0.1:%2 \u2014 port outside 1\u201365535")
                                   .arg(QString::fromLatin1(c.text))
                                   .arg(65536 + port);
        EXPECT_TRUE(wait_log(reason.toUtf8().constData())) << read_text(out_file()).right(2000).toStdString();
        s_x->request_close(box);
        EXPECT_EQ(0, m_viewer->wait_exit(10000));
        EXPECT_EQ(before, connects(c.channel));
        m_viewer.reset();
    }

    // Media: its own connect error box; the session goes on without the channel.
    const int port = launch_port("portMedia");
    ASSERT_GT(port, 0);
    const int media_before = connects("media");
    ASSERT_TRUE(start_viewer(m_dev.launch_with(QStringLiteral("portMedia"), QString::number(65536 + port))));
    const Window box = s_x->wait_window("\u63D0\u793A", false, 20000);
    ASSERT_NE(0u, box) << "no media connect error box";
    EXPECT_TRUE(wait_log("port outside 1")) << read_text(out_file()).right(2000).toStdString();
    s_x->request_close(box);
    const Window w = main_window();
    ASSERT_NE(0u, w);
    ASSERT_TRUE(wait_log("video.userID.ack,success"));
    EXPECT_EQ(media_before, connects("media"));
    close_viewer(w);
}

TEST_F(LocalFaults, OpenMediaDialogDoesNotKeepTheWindowFromClosing)
{
    ASSERT_TRUE(start_viewer(m_dev.launch));
    const Window w = main_window();
    ASSERT_NE(0u, w);
    ASSERT_TRUE(wait_log("vm,, recv userID ack,value=0"));
    viewer_ui ui(*s_x, QStringLiteral(KVM_SOURCE_DIR));
    ASSERT_NE(0u, ui.open_media_dialog(w));
    close_viewer(w);
}
