// The viewer forced onto XWayland (QT_QPA_PLATFORM=xcb) under a headless
// sway: it tells the compositor before grabbing the keyboard, and leaves the
// X server's lock state alone (XWayland's is not the keyboard's), showing
// the device's instead. The viewer is the start-up probe build, whose log
// goes to standard output. All traffic on loopback.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/sway_session.h"
#include "common/wait_until.h"
// Xlib's macros (True, False, Bool) last, after every Qt header.
#include "common/x11_display.h"
#include <X11/XKBlib.h>

namespace {

bool log_has(const QString& file, const QString& text)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && QString::fromUtf8(f.readAll()).contains(text);
}

// Whether a _XWAYLAND_MAY_GRAB_KEYBOARD message for window w went to the root
// window (read from the events the root window's substructure brings).
bool grab_announced(Display* dpy, Window w)
{
    const Atom atom = XInternAtom(dpy, "_XWAYLAND_MAY_GRAB_KEYBOARD", False);
    bool seen = false;
    XSync(dpy, False);
    while (XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == ClientMessage && ev.xclient.message_type == atom && ev.xclient.window == w &&
            ev.xclient.data.l[0] == 1)
            seen = true;
    }
    return seen;
}

}  // namespace

TEST(XWaylandE2E, GrabIsAnnouncedAndLockStateLeftAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    sway_session sway(1600, 1000);
    ASSERT_TRUE(sway.ok()) << "sway did not start";
    ASSERT_TRUE(sway.keep_keyboard());
    x11_display x("Xwayland", {},
                  {{"WAYLAND_DISPLAY", sway.wayland_display().toStdString()}});
    ASSERT_TRUE(x.ok()) << "Xwayland did not start";
    XSelectInput(x.dpy(), DefaultRootWindow(x.dpy()), SubstructureNotifyMask);

    devsim_process dev;
    ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                          {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--fps"), QStringLiteral("10"),
                           QStringLiteral("--mouse-mode"), QStringLiteral("1")},
                          dir.path()));
    QString exe;
    ASSERT_TRUE(viewer_process::install(QStringLiteral(PROBE_PATH), dir.path(), &exe));
    const QString log = dir.filePath(QStringLiteral("viewer.log"));
    viewer_process viewer;
    QProcessEnvironment env = sway.client_environment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.name()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    viewer.proc.setProcessEnvironment(env);
    viewer.proc.setStandardOutputFile(log);
    viewer.proc.setStandardErrorFile(dir.filePath(QStringLiteral("viewer.err")));
    end_with_the_test(viewer.proc);
    viewer.proc.start(exe, {dev.launch});
    ASSERT_TRUE(viewer.proc.waitForStarted(10000));
    const Window win = x.wait_window("Orvane V2.1", true, 30000);
    ASSERT_NE(win, Window(0));
    ASSERT_TRUE(wait_until([&] { return dev.status().value(QStringLiteral("pictures")).toInt() > 5; }, 20000, 50));
    EXPECT_TRUE(log_has(log, QStringLiteral("platform xcb:")));
    EXPECT_TRUE(log_has(log, QStringLiteral("X server is XWayland")));

    // The device's Num, Caps and Scroll Lock: shown, not set on XWayland.
    ASSERT_TRUE(dev.command(QStringLiteral("led 7")).startsWith(QLatin1String("ok")));
    ASSERT_TRUE(wait_until([&] { return log_has(log, QStringLiteral("device lock state 7 shown")); }, 10000, 50));
    unsigned int indicators = 0xff;
    ASSERT_EQ(XkbGetIndicatorState(x.dpy(), XkbUseCoreKbd, &indicators), Success);
    EXPECT_EQ(indicators & 7u, 0u) << "the viewer set XWayland's lock state";

    // Full screen (its tool bar button) grabs the keyboard, announced first.
    grab_announced(x.dpy(), win);  // what came before
    const QRect g = x.geometry(win);
    const QRect strip(g.left(), g.top(), g.width() - 1024, g.height());
    icon_hit button;
    ASSERT_TRUE(wait_until(
        [&] {
            const QImage shot = x.screenshot();
            button = find_icon(shot, strip, QImage(QStringLiteral(KVM_SOURCE_DIR "/resources/images/fullscreen.png")),
                               shot.pixel(strip.left() + 1, strip.bottom() - 1));
            return button.err < 6.0;
        },
        10000, 200));
    x.click(button.centre().x(), button.centre().y());
    EXPECT_TRUE(wait_until([&] { return grab_announced(x.dpy(), win); }, 10000, 50))
        << "no _XWAYLAND_MAY_GRAB_KEYBOARD before the grab";
    viewer.kill();
    dev.stop();
}
