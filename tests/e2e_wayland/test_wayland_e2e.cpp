// The viewer as a native Wayland client of a headless sway, against the
// devsim program: the platform it picks by itself, its app id, devsim's
// picture on the output, keys typed by a virtual keyboard (wtype, which
// brings its own keymap), the keyboard grab against a compositor binding,
// relative mouse mode under a pointer lock, and the close the compositor asks
// for. The viewer is the start-up probe build, whose log goes to standard
// output. All traffic on loopback.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/sway_session.h"
#include "common/wait_until.h"
#include "virtual_pointer.h"

namespace {

const QString k_app_id = QStringLiteral("io.github.h264video.H264Video");
const QRgb k_corner_mark = qRgb(255, 200, 0);
const int k_out_w = 1600;
const int k_out_h = 1000;
// A floating window keeps the viewer's default size: tool bar plus 1024 x 768,
// where devsim's 1280 x 720 picture shows at 1024 x 576, 1.25 remote pixels
// per local one, from y = 96 of the video area.
const double k_scale = 1.25;
const int k_origin_y = 96;

class WaylandE2E : public ::testing::Test
{
public:
    // sway (with extra configuration), devsim in the given mouse mode and the
    // viewer; returns once the window is up, devsim granted write privilege
    // and pictures flow.
    void start(const char* mouseMode, QString swayConfig = QString(), const QByteArray& x11Display = {})
    {
        if (scale != 1)
            swayConfig += QStringLiteral("output HEADLESS-1 scale %1\n").arg(scale);
        ASSERT_TRUE(dir.isValid());
        // KVM_KEEP_WAYLAND_DIRS=1 keeps the test's directory (viewer log and errors, devsim's events).
        if (qEnvironmentVariableIsSet("KVM_KEEP_WAYLAND_DIRS")) {
            dir.setAutoRemove(false);
            std::printf("test directory %s\n", qPrintable(dir.path()));
        }
        sway = std::make_unique<sway_session>(k_out_w * scale, k_out_h * scale,
                                              QStringLiteral("for_window [app_id=\"%1\"] floating enable\n").arg(k_app_id) +
                                                  swayConfig);
        ASSERT_TRUE(sway->ok()) << "sway did not start (set KVM_TEST_SWAY_LOG=1 to see its output)";
        ASSERT_TRUE(sway->keep_keyboard()) << "no keyboard in the seat";
        // The seat has its pointer before the window comes, as on a desktop.
        pointer = std::make_unique<virtual_pointer>(sway->wayland_display());
        ASSERT_TRUE(pointer->ok()) << "no virtual pointer in the compositor";
        events = dir.filePath(QStringLiteral("events.jsonl"));
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--fps"),
                               QStringLiteral("10"), QStringLiteral("--mouse-mode"), QString::fromLatin1(mouseMode),
                               QStringLiteral("--events"), events, QStringLiteral("--events-hex-max"),
                               QStringLiteral("0")},
                              dir.path()));
        QString exe;
        ASSERT_TRUE(viewer_process::install(QStringLiteral(PROBE_PATH), dir.path(), &exe));
        QProcessEnvironment env = sway->client_environment();
        // An X display that is not there: the viewer must choose Wayland
        // itself, as Qt 6.4 alone would try X11 first.
        env.insert(QStringLiteral("DISPLAY"), x11Display.isEmpty() ? QStringLiteral(":97") : QString::fromLatin1(x11Display));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
        viewer.proc.setProcessEnvironment(env);
        viewer.proc.setStandardOutputFile(log_file());
        viewer.proc.setStandardErrorFile(dir.filePath(QStringLiteral("viewer.err")));
        end_with_the_test(viewer.proc);
        viewer.proc.setProgram(exe);
        viewer.proc.setArguments({dev.launch});
        viewer.proc.start();
        ASSERT_TRUE(viewer.proc.waitForStarted(10000));
        ASSERT_TRUE(wait_until([&] { return !sway->window(k_app_id).isEmpty(); }, 30000, 100))
            << "no window with app id " << k_app_id.toStdString() << "\n"
            << log_text().right(3000).toStdString();
        ASSERT_TRUE(wait_until(
            [&] { return sway->window(k_app_id).value(QStringLiteral("focused")).toBool(); }, 20000, 100))
            << "the window never had the focus";
        ASSERT_TRUE(wait_until([&] { return dev.status().value(QStringLiteral("kmReceived")).toInt() >= 2; }, 20000, 50))
            << "no KM message reached devsim";
        ASSERT_TRUE(wait_until([&] { return dev.status().value(QStringLiteral("pictures")).toInt() > 5; }, 20000, 50));
    }

    void TearDown() override
    {
        viewer.kill();
        dev.stop();
        pointer.reset();
        if (sway)
            sway->stop();
    }

    QString log_file() const { return dir.filePath(QStringLiteral("viewer.log")); }

    QString log_text() const
    {
        QFile f(log_file());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool wait_log(const QString& text, int timeout_ms = 10000) const
    {
        return wait_until([&] { return log_text().contains(text); }, timeout_ms, 50);
    }

    // The window's rectangle on the output.
    QRect window_rect() const
    {
        const QJsonObject r = sway->window(k_app_id).value(QStringLiteral("rect")).toObject();
        return QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                     r.value(QStringLiteral("width")).toInt(), r.value(QStringLiteral("height")).toInt());
    }

    // The video area (right of the tool bar), 1024 x 768 in a floating window.
    QRect video_area() const
    {
        const QRect w = window_rect();
        return QRect(w.right() + 1 - 1024, w.top(), 1024, 768);
    }

    // devsim's picture in the window, in output pixels (0 x 0: not there).
    QRect picture_shown() const
    {
        const QImage shot = sway->screenshot();
        const QRect lw = window_rect();
        const QRect w(lw.topLeft() * scale, lw.size() * scale);
        if (shot.isNull() || w.isEmpty())
            return QRect();
        int hits = 0;
        QPoint tl(INT32_MAX / 2, INT32_MAX / 2), br(-1, -1);
        for (int y = std::max(0, w.top()); y <= std::min(shot.height() - 1, w.bottom()); ++y)
            for (int x = std::max(0, w.left()); x <= std::min(shot.width() - 1, w.right()); ++x)
                if (near(shot.pixel(x, y), k_corner_mark, 40)) {
                    ++hits;
                    if (x + y < tl.x() + tl.y())
                        tl = QPoint(x, y);
                    if (x + y > br.x() + br.y())
                        br = QPoint(x, y);
                }
        // devsim's two corner marks, a picture's width apart.
        return hits > 10 && br.x() - tl.x() > 900 ? QRect(tl, br) : QRect();
    }

    bool shows_picture() const { return !picture_shown().isEmpty(); }

    bool wtype(const QStringList& args) { return sway->run(QStringLiteral("wtype"), args); }

    // Keyboard reports devsim received: (modifiers, first usage) of those holding a key.
    std::vector<std::pair<int, int>> key_presses()
    {
        std::vector<std::pair<int, int>> out;
        for (const QJsonObject& r : devsim_km_received(events, "keyboard")) {
            const QByteArray b = QByteArray::fromHex(r.value(QStringLiteral("hex")).toString().toLatin1());
            if (b.size() == 9 && b[3] != 0)
                out.emplace_back(uint8_t(b[1]), uint8_t(b[3]));
        }
        return out;
    }

    bool got_chord(int modifiers, int usage)
    {
        for (const auto& k : key_presses())
            if (k.first == modifiers && k.second == usage)
                return true;
        return false;
    }

    int scale = 1;  // the output's scale; k_out_w x k_out_h stays its logical size
    QTemporaryDir dir;
    std::unique_ptr<sway_session> sway;
    std::unique_ptr<virtual_pointer> pointer;
    devsim_process dev;
    viewer_process viewer;
    QString events;
};

}  // namespace

// The platform is chosen (Wayland, though an X display is named), the app id
// is the desktop entry's, the picture shows, text typed on a virtual keyboard
// with a keymap of its own arrives as typed although keys go by position, and
// the compositor's close ends the viewer in order.
TEST_F(WaylandE2E, PictureTypedTextAndCompositorClose)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    EXPECT_TRUE(log_text().contains(QStringLiteral("platform wayland:"))) << log_text().left(2000).toStdString();
    EXPECT_TRUE(wait_until([&] { return shows_picture(); }, 20000, 200)) << "devsim's picture never showed";

    ASSERT_TRUE(wtype({QStringLiteral("-d"), QStringLiteral("30"), QStringLiteral("Hello, World!")}));
    EXPECT_TRUE(wait_until([&] { return dev.status().value(QStringLiteral("typed")).toString() == "Hello, World!"; },
                           20000, 50))
        << dev.status().value(QStringLiteral("typed")).toString().toStdString() << "\n"
        << log_text().right(6000).toStdString();

    ASSERT_FALSE(sway->msg({QStringLiteral("[app_id=\"%1\"] kill").arg(k_app_id)}).isEmpty());
    EXPECT_EQ(viewer.wait_exit(20000), 0) << log_text().right(2000).toStdString();
    EXPECT_TRUE(log_text().contains(QStringLiteral("qt end, exit code 0")));
}

// With the grab on (full screen), a chord the compositor has bound reaches
// the remote computer and not the compositor; the escape chord gives the
// compositor its shortcuts back.
TEST_F(WaylandE2E, GrabTakesCompositorShortcuts)
{
    // %SHARED% is a directory sway may write to.
    ASSERT_NO_FATAL_FAILURE(start("1", QStringLiteral("bindsym Mod1+Tab exec touch %SHARED%/alt-tab\n"
                                                       "bindsym --inhibited Mod1+F9 exec touch %SHARED%/marker\n")));
    const QString altTab = QDir(sway->shared_dir()).filePath(QStringLiteral("alt-tab"));
    const QString marker = QDir(sway->shared_dir()).filePath(QStringLiteral("marker"));

    // Without the grab the compositor takes Alt+Tab.
    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("alt"), QStringLiteral("-k"), QStringLiteral("Tab"),
                       QStringLiteral("-m"), QStringLiteral("alt")}));
    ASSERT_TRUE(wait_until([&] { return QFile::exists(altTab); }, 10000, 50)) << "the binding never fired";
    QFile::remove(altTab);

    ASSERT_FALSE(sway->msg({QStringLiteral("[app_id=\"%1\"] fullscreen enable").arg(k_app_id)}).isEmpty());
    ASSERT_TRUE(wait_log(QStringLiteral("keyboard grab: Keyboard grabbed"))) << log_text().right(3000).toStdString();

    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("alt"), QStringLiteral("-k"), QStringLiteral("Tab"),
                       QStringLiteral("-m"), QStringLiteral("alt")}));
    EXPECT_TRUE(wait_until([&] { return got_chord(0x04, 0x2b); }, 10000, 50)) << "Alt+Tab never reached devsim";
    // A binding that works while inhibited runs after Alt+Tab's would have.
    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("alt"), QStringLiteral("-k"), QStringLiteral("F9"),
                       QStringLiteral("-m"), QStringLiteral("alt")}));
    ASSERT_TRUE(wait_until([&] { return QFile::exists(marker); }, 10000, 50));
    EXPECT_FALSE(QFile::exists(altTab)) << "the compositor took Alt+Tab during the grab";

    // Ctrl+Alt+Shift+F12: released, and the compositor's again.
    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("-M"), QStringLiteral("alt"),
                       QStringLiteral("-M"), QStringLiteral("shift"), QStringLiteral("-k"), QStringLiteral("F12"),
                       QStringLiteral("-m"), QStringLiteral("shift"), QStringLiteral("-m"), QStringLiteral("alt"),
                       QStringLiteral("-m"), QStringLiteral("ctrl")}));
    ASSERT_TRUE(wait_log(QStringLiteral("keyboard grab: Keyboard released")));
    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("alt"), QStringLiteral("-k"), QStringLiteral("Tab"),
                       QStringLiteral("-m"), QStringLiteral("alt")}));
    EXPECT_TRUE(wait_until([&] { return QFile::exists(altTab); }, 10000, 50)) << "the binding stayed inhibited";
}

// Relative mode: the pointer is locked on the picture, the remote pointer
// moves by the sum of the deltas (at the picture's scale), and keeps moving
// where the local pointer could not follow: past the window's edge.
TEST_F(WaylandE2E, RelativeModeUnderPointerLock)
{
    ASSERT_NO_FATAL_FAILURE(start("0"));
    virtual_pointer& pointer = *this->pointer;
    const QRect area = video_area();
    // Onto the picture at local (40, 200) and a click: aligned, then locked.
    ASSERT_TRUE(pointer.move_to(area.left() + 40, area.top() + k_origin_y + 200, k_out_w, k_out_h));
    ASSERT_TRUE(pointer.click());
    ASSERT_TRUE(wait_log(QStringLiteral("pointer locked"))) << log_text().right(3000).toStdString();
    // Settled: the same place twice in a row, a quarter of a second apart.
    QPoint start(-1, -1);
    ASSERT_TRUE(wait_until(
        [&] {
            const QPoint p = dev.pointer();
            const bool same = p == start && p.x() >= 0;
            start = p;
            return same;
        },
        10000, 250));

    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(pointer.move_by(8, 5));
    const QPoint moved = start + QPoint(int(200 * k_scale), int(125 * k_scale));
    const auto near_point = [&](const QPoint& want) {
        const QPoint p = dev.pointer();
        return std::abs(p.x() - want.x()) <= 3 && std::abs(p.y() - want.y()) <= 3;
    };
    EXPECT_TRUE(wait_until([&] { return near_point(moved); }, 10000, 50))
        << dev.pointer().x() << "," << dev.pointer().y() << " for " << moved.x() << "," << moved.y();

    // 400 to the left would leave the window (the picture starts 40 + 200
    // from the window's edge): the remote pointer stops at its screen's
    // edge, and 200 back puts it at 250.
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(pointer.move_by(-20, 0));
    EXPECT_TRUE(wait_until([&] { return near_point(QPoint(0, moved.y())); }, 10000, 50))
        << dev.pointer().x() << "," << dev.pointer().y() << " at the left edge";
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(pointer.move_by(10, 0));
    const QPoint back(int(200 * k_scale), moved.y());
    EXPECT_TRUE(wait_until([&] { return near_point(back); }, 10000, 50))
        << dev.pointer().x() << "," << dev.pointer().y() << " for " << back.x() << "," << back.y();

    // The escape chord sets the pointer free.
    ASSERT_TRUE(wtype({QStringLiteral("-M"), QStringLiteral("ctrl"), QStringLiteral("-M"), QStringLiteral("alt"),
                       QStringLiteral("-M"), QStringLiteral("shift"), QStringLiteral("-k"), QStringLiteral("F12"),
                       QStringLiteral("-m"), QStringLiteral("shift"), QStringLiteral("-m"), QStringLiteral("alt"),
                       QStringLiteral("-m"), QStringLiteral("ctrl")}));
    EXPECT_TRUE(wait_log(QStringLiteral("pointer unlocked")));
}

// At output scale 2 the picture fills the window's area in output pixels
// (drawn for the screen, not magnified from half size), and absolute mode
// puts the remote pointer where the local one is.
TEST_F(WaylandE2E, AbsolutePointerAndPictureAtScale2)
{
    scale = 2;
    ASSERT_NO_FATAL_FAILURE(start("1"));
    QRect shown;
    ASSERT_TRUE(wait_until(
        [&] {
            shown = picture_shown();
            return !shown.isEmpty();
        },
        20000, 200))
        << "devsim's picture never showed";
    // 1024 x 576 logical pixels of picture are 2048 x 1152 on the output.
    EXPECT_NEAR(shown.width(), 2048, 6);
    EXPECT_NEAR(shown.height(), 1152, 6);

    const QRect area = video_area();
    const auto near_point = [&](const QPoint& want) {
        const QPoint p = dev.pointer();
        return std::abs(p.x() - want.x()) <= 3 && std::abs(p.y() - want.y()) <= 3;
    };
    // Local (512, 288) of the picture is remote (640, 360); (100, 100) is (125, 125).
    ASSERT_TRUE(pointer->move_to(area.left() + 512, area.top() + k_origin_y + 288, k_out_w, k_out_h));
    EXPECT_TRUE(wait_until([&] { return near_point(QPoint(640, 360)); }, 10000, 50))
        << dev.pointer().x() << "," << dev.pointer().y();
    ASSERT_TRUE(pointer->move_to(area.left() + 100, area.top() + k_origin_y + 100, k_out_w, k_out_h));
    EXPECT_TRUE(wait_until([&] { return near_point(QPoint(125, 125)); }, 10000, 50))
        << dev.pointer().x() << "," << dev.pointer().y();
}
