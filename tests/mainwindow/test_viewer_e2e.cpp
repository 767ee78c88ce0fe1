// The real viewer executable under Xvfb against the devsim program: the title,
// the tool bar, devsim's picture on screen, the no-signal picture, optimum
// size, the window size file across starts, connection errors and a clean exit.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "c_devsim_desktop.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/unused_port.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

const int k_pic_w = 1280;
const int k_pic_h = 720;
const QRgb k_corner_mark = qRgb(255, 200, 0);
const QRgb k_no_signal = qRgb(0x2e, 0x2e, 0x2e);

long elapsed_ms(clock_type::time_point since)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - since).count());
}

// Where devsim's picture sits on screen, found by its two yellow corner marks.
struct placement {
    QRect picture;  // scaled picture in screen coordinates
    bool found = false;
};

placement find_picture(const QImage& shot, const QRect& window)
{
    placement p;
    int minSum = INT32_MAX, maxSum = -1;
    QPoint tl, br;
    for (int y = window.top(); y <= window.bottom(); ++y)
        for (int x = window.left(); x <= window.right(); ++x)
            if (near(shot.pixel(x, y), k_corner_mark, 40)) {
                if (x + y < minSum) {
                    minSum = x + y;
                    tl = QPoint(x, y);
                }
                if (x + y > maxSum) {
                    maxSum = x + y;
                    br = QPoint(x, y);
                }
            }
    if (maxSum < 0 || br.x() - tl.x() < 100)
        return p;
    p.picture = QRect(tl, br);
    p.found = true;
    return p;
}

// Share of the label's pixels that are the no-signal grey.
double no_signal_share(const QImage& shot, const QRect& area)
{
    int hits = 0, total = 0;
    for (int y = area.top(); y <= area.bottom(); y += 7)
        for (int x = area.left(); x <= area.right(); x += 7) {
            ++total;
            hits += near(shot.pixel(x, y), k_no_signal, 6);
        }
    return total ? double(hits) / total : 0.0;
}

QImage icon_file(const char* name)
{
    return QImage(QStringLiteral(KVM_SOURCE_DIR "/resources/images/") + QString::fromLatin1(name));
}

class ViewerE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &viewer_exe));
    }

    void start_devsim(const QString& mouseMode)
    {
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                               QStringLiteral("%1x%2").arg(k_pic_w).arg(k_pic_h), QStringLiteral("--fps"),
                               QStringLiteral("15"), QStringLiteral("--mouse-mode"), mouseMode,
                               QStringLiteral("--dog-id"), QStringLiteral("2"), QStringLiteral("--user-name"),
                               QStringLiteral("admin"), QStringLiteral("--events"), QString()},
                              dir.path()));
    }

    // Starts the viewer and waits for its main window.
    Window start_viewer(viewer_process& v, const QString& launch)
    {
        if (!v.start(viewer_exe, launch, QString::fromStdString(x.name())))
            return 0;
        return x.wait_window(k_title_prefix, true, 20000);
    }

    // Waits until devsim's picture shows in the window (pointer kept away),
    // in the same place in two screenshots running: a window still settling
    // its layout may show one picture converted for the size before.
    placement wait_picture(Window w, int timeout_ms = 20000)
    {
        const auto end = clock_type::now() + std::chrono::milliseconds(timeout_ms);
        placement p, last;
        while (clock_type::now() < end) {
            x.move_pointer(1599, 999);
            const QImage shot = x.screenshot();
            p = find_picture(shot, x.geometry(w));
            if (p.found && last.found && p.picture == last.picture)
                return p;
            last = p;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return p;
    }

    // devsim draws the remote pointer into its picture; left on a corner (the
    // first move aligns it to the top-left) it would hide a corner mark. Moves
    // over the picture's middle until the device has it there, then leaves.
    bool park_remote_pointer(const placement& p)
    {
        const auto end = clock_type::now() + std::chrono::milliseconds(10000);
        const QPoint middle = p.picture.center();
        bool parked = false;
        for (int i = 0; !parked && clock_type::now() < end; ++i) {
            x.move_pointer(middle.x() + i % 2, middle.y());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const QPoint r = dev.pointer();
            parked = std::abs(r.x() - k_pic_w / 2) < 60 && std::abs(r.y() - k_pic_h / 2) < 60;
        }
        x.move_pointer(1599, 999);
        return parked;
    }

    // Width of the tool bar: the columns at the window's bottom-left before the
    // label's background starts (seen in the letterbox at the bottom right,
    // while a wide picture shows in the default 4:3 area).
    int tool_bar_width(const QImage& shot, const QRect& g, QRgb* background)
    {
        const int y = g.bottom() - 1;
        *background = shot.pixel(g.left() + 1, y);
        const QRgb label = shot.pixel(g.right() - 1, y);
        int x = g.left();
        while (x <= g.right() && !near(shot.pixel(x, y), label, 2))
            ++x;
        return x - g.left();
    }

    bool close_and_wait(viewer_process& v, Window w, long* ms)
    {
        const auto t0 = clock_type::now();
        x.request_close(w);
        const int rc = v.wait_exit(5000);
        *ms = elapsed_ms(t0);
        return rc == 0;
    }

    const std::string k_title_prefix = "Orvane V2.1";
    QTemporaryDir dir;
    x11_display x;
    devsim_process dev;
    QString viewer_exe;
};

}  // namespace

TEST_F(ViewerE2E, TitlePictureAndNoSignal)
{
    start_devsim(QStringLiteral("1"));
    viewer_process v;
    const Window w = start_viewer(v, dev.launch);
    ASSERT_NE(w, 0u) << v.error_output().toStdString();
    EXPECT_EQ(x.window_name(w), "Orvane V2.1 2018.12.10 - Login User: admin DongleID:3 IP: 127.0.0.1");

    const placement first = wait_picture(w);
    ASSERT_TRUE(first.found) << "devsim's picture never showed";
    ASSERT_TRUE(park_remote_pointer(first)) << dev.pointer().x() << "," << dev.pointer().y();
    const placement p = wait_picture(w);
    ASSERT_TRUE(p.found);
    const QRect g = x.geometry(w);
    QImage shot = x.screenshot();
    QRgb barColour = 0;
    const int bar = tool_bar_width(shot, g, &barColour);
    ASSERT_GT(bar, 10);
    ASSERT_LT(bar, 120);

    // Default size without a size file: the tool bar plus 1024 x 768; the
    // 16:9 picture fills the width and is centred vertically.
    EXPECT_EQ(g.size(), QSize(bar + 1024, 768));
    const QRect area(g.left() + bar, g.top(), g.width() - bar, g.height());
    EXPECT_NEAR(p.picture.left(), area.left(), 1);
    EXPECT_NEAR(p.picture.width(), 1024, 2);
    EXPECT_NEAR(p.picture.height(), 576, 2);
    EXPECT_NEAR(p.picture.top() - area.top(), (768 - 576) / 2, 2);

    // Sampled pixels of the still part of devsim's desktop (right of the
    // text, away from grid lines and the moving block) match the picture
    // devsim encoded, within the losses of compression and scaling.
    c_devsim_desktop desktop(k_pic_w, k_pic_h);
    QImage reference;
    ASSERT_TRUE(desktop.grab(reference, devsim_view{}));
    const double sx = double(k_pic_w) / 1024.0, sy = double(k_pic_h) / 576.0;
    int compared = 0, matched = 0;
    for (int rx = 1040; rx < 1250; rx += 23)
        for (int ry = 90; ry < 380; ry += 17) {
            if (rx % 64 < 6 || rx % 64 > 58 || ry % 64 < 6 || ry % 64 > 58)
                continue;
            const int px = area.left() + int(rx / sx);
            const int py = area.top() + (768 - 576) / 2 + int(ry / sy);
            ++compared;
            matched += near(shot.pixel(px, py), reference.pixel(rx, ry), 14);
        }
    ASSERT_GT(compared, 50);
    EXPECT_GE(matched, compared * 95 / 100) << matched << " of " << compared;

    // The tool bar: full screen, (grab, disabled), video settings, media,
    // mouse hide, optimum size, top to bottom; align is hidden in absolute mode.
    const QRect strip(g.left(), g.top(), bar, g.height());
    const char* order[] = {"fullscreen.png", "videoset.png", "uvset.png", "mouseHide.png", "optres.png"};
    int lastY = -1;
    for (const char* name : order) {
        const icon_hit hit = find_icon(shot, strip, icon_file(name), barColour);
        EXPECT_LT(hit.err, 4.0) << name;
        EXPECT_GT(hit.pos.y(), lastY) << name << " out of order";
        lastY = hit.pos.y();
    }

    // devsim stops sending but keeps the connection (a closed one would be
    // connected again): about a second later the no-signal picture.
    ASSERT_TRUE(dev.command(QStringLiteral("fault video mute")).startsWith(QStringLiteral("ok")));
    const auto closedAt = clock_type::now();
    bool noSignal = false;
    while (!noSignal && elapsed_ms(closedAt) < 6000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        noSignal = no_signal_share(x.screenshot(), area.adjusted(0, 100, 0, -100)) > 0.8;
    }
    EXPECT_TRUE(noSignal);
    const long after = elapsed_ms(closedAt);
    EXPECT_GE(after, 700);
    EXPECT_LE(after, 3500);

    long ms = 0;
    EXPECT_TRUE(close_and_wait(v, w, &ms));
}

TEST_F(ViewerE2E, OptimumSizeWindowSizeFileAndCleanExit)
{
    start_devsim(QStringLiteral("0"));
    const QString sizeFile = QDir(dir.path()).filePath(QStringLiteral("clientSize.config"));
    int bar = 0;
    int optW = 0;
    {
        viewer_process v;
        const Window w = start_viewer(v, dev.launch);
        ASSERT_NE(w, 0u) << v.error_output().toStdString();
        ASSERT_TRUE(wait_picture(w).found);
        QRect g = x.geometry(w);
        const QImage shot = x.screenshot();
        QRgb barColour = 0;
        bar = tool_bar_width(shot, g, &barColour);

        // Relative mode shows the align action too.
        const QRect strip(g.left(), g.top(), bar, g.height());
        const char* order[] = {"fullscreen.png", "mouse.png", "videoset.png", "uvset.png", "mouseHide.png",
                               "optres.png"};
        int lastY = -1;
        icon_hit opt;
        for (const char* name : order) {
            opt = find_icon(shot, strip, icon_file(name), barColour);
            EXPECT_LT(opt.err, 4.0) << name;
            EXPECT_GT(opt.pos.y(), lastY) << name << " out of order";
            lastY = opt.pos.y();
        }

        // Optimum size: the picture 1:1 beside the tool bar, centred on the screen.
        x.click(opt.pos.x() + opt.size / 2, opt.pos.y() + opt.size / 2);
        const QSize want(k_pic_w + bar, k_pic_h);
        const auto t0 = clock_type::now();
        const QPoint centred((1600 - want.width()) / 2, (1000 - want.height()) / 2);
        // The resize and the move reach the X server as separate requests.
        while ((x.geometry(w).size() != want || x.geometry(w).topLeft() != centred) && elapsed_ms(t0) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        g = x.geometry(w);
        EXPECT_EQ(g.size(), want);
        EXPECT_EQ(g.topLeft(), centred);
        optW = g.width();

        // Closing writes the size file and ends the process cleanly and soon.
        long ms = 0;
        EXPECT_TRUE(close_and_wait(v, w, &ms));
        EXPECT_LT(ms, 2000);
        const QString err = v.error_output();
        EXPECT_FALSE(err.contains(QStringLiteral("QThread: Destroyed"))) << err.toStdString();
        QFile f(sizeFile);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromLatin1(f.readAll()), QStringLiteral("%1,%2\n").arg(optW).arg(k_pic_h));
    }
    // devsim saw both channels close.
    const auto t1 = clock_type::now();
    QString status;
    do {
        status = dev.command(QStringLiteral("status"));
    } while ((status.contains(QStringLiteral("\"video\":true")) || status.contains(QStringLiteral("\"km\":true"))) &&
             elapsed_ms(t1) < 5000);
    EXPECT_TRUE(status.contains(QStringLiteral("\"video\":false"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("\"km\":false"))) << status.toStdString();

    // The next start takes its size from the file.
    {
        viewer_process v;
        const Window w = start_viewer(v, dev.launch);
        ASSERT_NE(w, 0u);
        EXPECT_EQ(x.geometry(w).size(), QSize(optW, k_pic_h));
        long ms = 0;
        EXPECT_TRUE(close_and_wait(v, w, &ms));
    }

    // A line of three numbers is ignored: the default size again.
    {
        QFile f(sizeFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("900,600,5\n");
    }
    {
        viewer_process v;
        const Window w = start_viewer(v, dev.launch);
        ASSERT_NE(w, 0u);
        EXPECT_EQ(x.geometry(w).size(), QSize(bar + 1024, 768));
        long ms = 0;
        EXPECT_TRUE(close_and_wait(v, w, &ms));
    }
}

TEST_F(ViewerE2E, ConnectionErrorsShowTheBoxAndExitWithZero)
{
    start_devsim(QStringLiteral("1"));
    struct Case {
        const char* key;
        bool kmUp;  // whether the KM channel connected before the failure
    };
    for (const Case c : {Case{"portV", true}, Case{"portKM", false}}) {
        SCOPED_TRACE(c.key);
        viewer_process v;
        ASSERT_TRUE(v.start(viewer_exe, dev.launch_with(QString::fromLatin1(c.key), QString::number(unused_loopback_port())),
                            QString::fromStdString(x.name())));
        const Window box = x.wait_window("Error", false, 20000);
        ASSERT_NE(box, 0u) << v.error_output().toStdString();
        // The main window never shows.
        EXPECT_TRUE(x.find_windows(k_title_prefix, true).empty());
        const QString status = dev.command(QStringLiteral("status"));
        EXPECT_EQ(status.contains(QStringLiteral("\"km\":true")), c.kmUp) << status.toStdString();
        EXPECT_TRUE(status.contains(QStringLiteral("\"video\":false"))) << status.toStdString();

        x.request_close(box);
        EXPECT_EQ(v.wait_exit(10000), 0);
        EXPECT_TRUE(x.find_windows(k_title_prefix, true).empty());
    }
}
