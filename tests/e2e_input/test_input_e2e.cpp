// The real viewer executable under Xvfb against the devsim program, driven
// with xdotool: typed text, keys by position on a German keyboard, pasted
// text, the keyboard grab in full screen, absolute and relative pointer, lock
// LEDs both ways, and Ctrl+Alt+Del from the key menu. All on loopback.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <X11/XKBlib.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/screen_match.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

using clock_type = std::chrono::steady_clock;

const int k_pic_w = 1280;
const int k_pic_h = 720;
// The default window: tool bar plus 1024 x 768; a 16:9 picture then shows at
// 1024 x 576 from (0, 96) of the video area, 1.25 remote pixels per local one.
const int k_area_w = 1024;
const int k_area_h = 768;
const int k_origin_y = 96;
const double k_scale = 1.25;

// The common bounded wait, polled every 20 ms here.
bool wait_for(const std::function<bool()>& cond, int timeout_ms)
{
    return wait_until(cond, timeout_ms, 20);
}

// Lock indicators of the display as bits 0 Num, 1 Caps, 2 Scroll.
int indicators(Display* dpy)
{
    int bits = 0;
    const char* names[] = {"Num Lock", "Caps Lock", "Scroll Lock"};
    for (int i = 0; i < 3; ++i) {
        Bool on = False;
        XkbGetNamedIndicator(dpy, XInternAtom(dpy, names[i], False), nullptr, &on, nullptr, nullptr);
        bits |= on ? 1 << i : 0;
    }
    return bits;
}

class InputE2E : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ASSERT_TRUE(viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &viewer_exe));
        events = dir.filePath(QStringLiteral("events.jsonl"));
    }

    // devsim and the viewer; returns once the viewer's window shows devsim's
    // picture and the device has granted write privilege over the KM channel.
    void start(const char* mouseMode, const char* configXml = nullptr)
    {
        if (configXml) {
            QFile config(dir.filePath(QStringLiteral("config.xml")));
            ASSERT_TRUE(config.open(QIODevice::WriteOnly));
            config.write(configXml);
        }
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                               QStringLiteral("%1x%2").arg(k_pic_w).arg(k_pic_h), QStringLiteral("--fps"),
                               QStringLiteral("10"), QStringLiteral("--mouse-mode"), QString::fromLatin1(mouseMode),
                               QStringLiteral("--events"), events, QStringLiteral("--events-hex-max"),
                               QStringLiteral("0")},
                              dir.path()));
        ASSERT_TRUE(viewer.start(viewer_exe, dev.launch, QString::fromStdString(x.name())));
        win = x.wait_window("Orvane V2.1", true, 20000);
        ASSERT_NE(win, 0u) << viewer.error_output().toStdString();
        const QRect g = x.geometry(win);
        ASSERT_GT(g.width(), k_area_w);
        area = QRect(g.right() + 1 - k_area_w, g.top(), k_area_w, k_area_h);
        // The privilege answer (a KM message sent after the user id) came back.
        ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("kmReceived")).toInt() >= 2; }, 20000))
            << "no KM message reached devsim";
        ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("pictures")).toInt() > 5; }, 20000));
    }

    void TearDown() override
    {
        if (clip.state() != QProcess::NotRunning) {
            clip.kill();
            clip.waitForFinished(5000);
        }
        viewer.kill();
        dev.stop();
    }

    // Runs an X client of the test display to its end.
    bool x_client(const QString& program, const QStringList& args)
    {
        QProcess p;
        const QProcessEnvironment env = x11_environment(QString::fromStdString(x.name()));
        p.setProcessEnvironment(env);
        p.start(program, args);
        return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // Owns the clipboard with text (xclip serves it until killed).
    void set_clipboard(const QByteArray& text)
    {
        if (clip.state() != QProcess::NotRunning) {
            clip.kill();
            clip.waitForFinished(5000);
        }
        const QProcessEnvironment env = x11_environment(QString::fromStdString(x.name()));
        clip.setProcessEnvironment(env);
        clip.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                             QStringLiteral("clipboard"), QStringLiteral("-i")});
        ASSERT_TRUE(clip.waitForStarted(10000));
        clip.write(text);
        // No event loop here: the text goes out only when waited for.
        clip.waitForBytesWritten(5000);
        clip.closeWriteChannel();
        // Ours once xclip answers for the selection.
        ASSERT_TRUE(wait_for(
            [&] {
                QProcess p;
                const QProcessEnvironment e = x11_environment(QString::fromStdString(x.name()));
                p.setProcessEnvironment(e);
                p.start(QStringLiteral("xclip"),
                        {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
                return p.waitForFinished(5000) && p.readAllStandardOutput() == text;
            },
            10000));
    }

    // Keyboard reports received since the first `from` ones: (modifiers, usage)
    // of every report that holds a key.
    std::vector<std::pair<int, int>> key_presses(size_t from)
    {
        std::vector<std::pair<int, int>> out;
        const auto reports = devsim_km_received(events, "keyboard");
        for (size_t i = from; i < reports.size(); ++i) {
            const QByteArray b = QByteArray::fromHex(reports[i].value(QStringLiteral("hex")).toString().toLatin1());
            if (b.size() == 9 && b[3] != 0)
                out.emplace_back(uint8_t(b[1]), uint8_t(b[3]));
        }
        return out;
    }

    // Whether another client could take the keyboard now (it lets go at once).
    bool keyboard_free()
    {
        Display* d = x.dpy();
        const int r = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (r == GrabSuccess)
            XUngrabKeyboard(d, CurrentTime);
        XSync(d, False);
        return r == GrabSuccess;
    }

    bool pointer_near(const QPoint& expected, int tolerance)
    {
        const QPoint p = dev.pointer();
        return std::abs(p.x() - expected.x()) <= tolerance && std::abs(p.y() - expected.y()) <= tolerance;
    }

    // Screen position of a point of the video area.
    QPoint on_screen(int lx, int ly) const { return area.topLeft() + QPoint(lx, ly); }

    bool move_to(const QPoint& screen)
    {
        return x.xdotool({QStringLiteral("mousemove"), QString::number(screen.x()), QString::number(screen.y())});
    }

    // Pointer on the video and one click, so the label has the keyboard; the
    // first move over the video aligns the mouse, which moves the pointer.
    void focus_video()
    {
        const int before = dev.status().value(QStringLiteral("kmReceived")).toInt();
        ASSERT_TRUE(move_to(on_screen(200, 300)));
        // Something arrives (the alignment, if this move is the first), then
        // the KM channel goes quiet.
        int last = before, quietReads = 0;
        ASSERT_TRUE(wait_for(
            [&] {
                const int n = dev.status().value(QStringLiteral("kmReceived")).toInt();
                quietReads = n == last ? quietReads + 1 : 0;
                last = n;
                return n > before && quietReads >= 10;
            },
            10000));
        ASSERT_TRUE(move_to(on_screen(210, 300)));
        ASSERT_TRUE(x.xdotool({QStringLiteral("click"), QStringLiteral("1")}));
    }

    QTemporaryDir dir;
    x11_display x;
    QProcess clip;
    const char* config = nullptr;  // config.xml beside the viewer, when set
    devsim_process dev;
    viewer_process viewer;
    QString viewer_exe;
    QString events;
    Window win = 0;
    QRect area;
};

}  // namespace

TEST_F(InputE2E, TypedTextArrivesAsTyped)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_TRUE(x.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"),
                         QStringLiteral("Hello, World!")}));
    EXPECT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("typed")).toString() == "Hello, World!"; },
                         20000))
        << dev.status().value(QStringLiteral("typed")).toString().toStdString();
    // Every key went up again (the last release may still be on its way when
    // the text is complete).
    const auto last_report = [&] {
        const auto reports = devsim_km_received(events, "keyboard");
        return reports.empty() ? QString() : reports.back().value(QStringLiteral("hex")).toString();
    };
    EXPECT_TRUE(wait_for([&] { return last_report() == QStringLiteral("030000000000000000"); }, 5000))
        << last_report().toStdString();
}

TEST_F(InputE2E, AbsolutePointerLandsWhereTheLocalOneIs)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());

    // Local (512, 384) is picture (640, 360); local (100, 196) is (125, 125).
    ASSERT_TRUE(move_to(on_screen(512, k_origin_y + 288)));
    EXPECT_TRUE(wait_for([&] { return pointer_near(QPoint(640, 360), 2); }, 10000))
        << dev.pointer().x() << "," << dev.pointer().y();
    ASSERT_TRUE(move_to(on_screen(100, k_origin_y + 100)));
    EXPECT_TRUE(wait_for([&] { return pointer_near(QPoint(125, 125), 2); }, 10000))
        << dev.pointer().x() << "," << dev.pointer().y();

    // A click there: pressed and released at that place.
    const size_t before = devsim_km_received(events, "mouse-abs").size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("click"), QStringLiteral("1")}));
    ASSERT_TRUE(wait_for(
        [&] {
            const auto m = devsim_km_received(events, "mouse-abs");
            return m.size() >= before + 2 &&
                   m.back().value(QStringLiteral("fields")).toObject().value(QStringLiteral("buttons")).toInt() == 0;
        },
        10000));
    const auto m = devsim_km_received(events, "mouse-abs");
    bool pressed = false;
    for (size_t i = before; i < m.size(); ++i) {
        const QJsonObject f = m[i].value(QStringLiteral("fields")).toObject();
        if (f.value(QStringLiteral("buttons")).toInt() == 1) {
            pressed = true;
            EXPECT_NEAR(f.value(QStringLiteral("px")).toInt(), 125, 2);
            EXPECT_NEAR(f.value(QStringLiteral("py")).toInt(), 125, 2);
        }
    }
    EXPECT_TRUE(pressed);
}

TEST_F(InputE2E, RelativePointerMovesByTheScaledSteps)
{
    ASSERT_NO_FATAL_FAILURE(start("0"));
    ASSERT_NO_FATAL_FAILURE(focus_video());

    // Settle at A, then go by (+80, +40) and (-160, -80) local pixels: the
    // remote pointer moves by 1.25 times that.
    const QPoint a = on_screen(300, k_origin_y + 200);
    const QPoint start = dev.pointer();
    ASSERT_TRUE(move_to(a));
    ASSERT_TRUE(wait_for([&] { return dev.pointer() != start; }, 10000));
    QPoint last(-1, -1);
    int same = 0;
    ASSERT_TRUE(wait_for(
        [&] {
            const QPoint p = dev.pointer();
            same = p == last ? same + 1 : 0;
            last = p;
            return same >= 3;
        },
        10000));
    const QPoint p0 = dev.pointer();

    ASSERT_TRUE(move_to(a + QPoint(80, 40)));
    const QPoint expect1 = p0 + QPoint(int(80 * k_scale), int(40 * k_scale));
    EXPECT_TRUE(wait_for([&] { return pointer_near(expect1, 2); }, 10000))
        << dev.pointer().x() << "," << dev.pointer().y() << " expected " << expect1.x() << "," << expect1.y();

    ASSERT_TRUE(move_to(a + QPoint(-80, -40)));
    const QPoint expect2 = p0 + QPoint(int(-80 * k_scale), int(-40 * k_scale));
    EXPECT_TRUE(wait_for([&] { return pointer_near(expect2, 2); }, 10000))
        << dev.pointer().x() << "," << dev.pointer().y() << " expected " << expect2.x() << "," << expect2.y();
}

TEST_F(InputE2E, LockKeyHoldsTheDeviceLedsOffThenTheyReachTheXServer)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_EQ(indicators(x.dpy()), 0);

    // CapsLock in the viewer: the X server locks Caps itself, devsim toggles its
    // own Caps and reports its LEDs (Caps only) within the 3 s hold.
    const auto pressed = clock_type::now();
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")}));
    ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("leds")).toInt() == 2; }, 5000));
    ASSERT_TRUE(wait_for([&] { return indicators(x.dpy()) == 0x02; }, 2000));

    // devsim's LED state 5 (Num, Scroll) is ignored until the hold has passed,
    // then set on the X server: asked again every 250 ms until it shows.
    int64_t appliedAfterMs = -1;
    const auto end = pressed + std::chrono::seconds(12);
    while (clock_type::now() < end) {
        ASSERT_TRUE(dev.command(QStringLiteral("led 5")).startsWith(QLatin1String("ok")));
        if (wait_for([&] { return indicators(x.dpy()) == 0x05; }, 250)) {
            appliedAfterMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - pressed).count();
            break;
        }
    }
    ASSERT_GE(appliedAfterMs, 0) << "the LED state never reached the X server";
    EXPECT_GE(appliedAfterMs, 3000);

    // And again without a hold: all off.
    ASSERT_TRUE(dev.command(QStringLiteral("led 0")).startsWith(QLatin1String("ok")));
    EXPECT_TRUE(wait_for([&] { return indicators(x.dpy()) == 0; }, 3000));
}

// Opens the key menu with one click on its tool button (found by its icon).
void open_key_menu(InputE2E& t)
{
    const QRect g = t.x.geometry(t.win);
    const QRect strip(g.left(), g.top(), g.width() - k_area_w, g.height());
    const QImage shot = t.x.screenshot();
    const QRgb background = shot.pixel(strip.left() + 1, strip.bottom() - 1);
    const icon_hit button = find_icon(shot, strip, QImage(QStringLiteral(KVM_SOURCE_DIR "/resources/images/win.png")),
                                      background);
    ASSERT_LT(button.err, 6.0) << "the key menu button is not on the tool bar";
    const size_t windows = t.x.find_windows("", true).size();
    ASSERT_TRUE(t.move_to(button.centre()));
    ASSERT_TRUE(t.x.xdotool({QStringLiteral("click"), QStringLiteral("1")}));
    ASSERT_TRUE(wait_for([&] { return t.x.find_windows("", true).size() > windows; }, 5000)) << "no menu opened";
}

TEST_F(InputE2E, CtrlAltDelFromTheKeyMenu)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));

    // The menu opens at once; its second entry is Ctrl+Alt+Del.
    const size_t before = devsim_km_received(events, "keyboard").size();
    ASSERT_NO_FATAL_FAILURE(open_key_menu(*this));
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")}));
    ASSERT_TRUE(wait_for([&] { return devsim_km_received(events, "keyboard").size() >= before + 2; }, 10000));

    // Control and Alt with Delete, then all keys up; nothing else with a key.
    std::vector<QString> sent;
    for (const auto& e : devsim_km_received(events, "keyboard"))
        sent.push_back(e.value(QStringLiteral("hex")).toString());
    sent.erase(sent.begin(), sent.begin() + long(before));
    std::vector<QString> withKeys;
    for (const QString& h : sent)
        if (h != QStringLiteral("030000000000000000"))
            withKeys.push_back(h);
    ASSERT_EQ(withKeys.size(), 1u);
    EXPECT_EQ(withKeys[0], QStringLiteral("0305004c0000000000"));
    EXPECT_EQ(sent.back(), QStringLiteral("030000000000000000"));
    EXPECT_TRUE(dev.status().value(QStringLiteral("typed")).toString().contains(QStringLiteral("Ctrl+Alt+Delete")));
}

TEST_F(InputE2E, ClosingTheWindowEndsTheViewerWhileTheKeyDialogIsOpen)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(open_key_menu(*this));
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
    ASSERT_NE(x.wait_window("Shotcut Setting", false, 10000), 0u) << "the key setting dialog did not open";

    x.request_close(win);
    EXPECT_EQ(viewer.wait_exit(15000), 0);
}

// ----------------------------------------------------------------- keyboard

namespace {

const char* const k_german_keys[] = {"z", "y", "adiaeresis", "less"};

void type_german_keys(InputE2E& t)
{
    ASSERT_TRUE(t.x_client(QStringLiteral("setxkbmap"), {QStringLiteral("de")}));
    ASSERT_NO_FATAL_FAILURE(t.start("1", t.config));
    ASSERT_NO_FATAL_FAILURE(t.focus_video());
    for (const char* k : k_german_keys)
        ASSERT_TRUE(t.x.xdotool({QStringLiteral("key"), QString::fromLatin1(k)}));
}

}  // namespace

TEST_F(InputE2E, KeysGoByPositionOnAGermanKeyboard)
{
    ASSERT_NO_FATAL_FAILURE(type_german_keys(*this));
    // The keys labelled Z, Y, Ä and < sit where a US keyboard has Y, Z, ' and the ISO key.
    const std::vector<std::pair<int, int>> expected = {{0, 0x1C}, {0, 0x1D}, {0, 0x34}, {0, 0x64}};
    EXPECT_TRUE(wait_for([&] { return key_presses(0).size() >= expected.size(); }, 10000));
    EXPECT_EQ(key_presses(0), expected);
}

TEST_F(InputE2E, KeysGoByCharacterWhenChosen)
{
    config = "<config><mouseRate>50</mouseRate><keyboardMode>character</keyboardMode></config>";
    ASSERT_NO_FATAL_FAILURE(type_german_keys(*this));
    EXPECT_TRUE(wait_for([&] { return key_presses(0).size() >= 2; }, 10000));
    const auto presses = key_presses(0);
    ASSERT_GE(presses.size(), 2u);
    // By the characters' US places, as always before.
    EXPECT_EQ(presses[0], std::make_pair(0, 0x1D));
    EXPECT_EQ(presses[1], std::make_pair(0, 0x1C));

    // Modifiers let go before their keys: Shift+7 types '/', AltGr+Q '@'.
    // Each character arrives with the Shift it needs on the remote's US
    // keyboard, and nothing stays held afterwards.
    const size_t mark = devsim_km_received(events, "keyboard").size();
    for (const char* step : {"keydown Shift_L", "keydown 7", "keyup Shift_L", "keyup 7", "keydown ISO_Level3_Shift",
                             "keydown q", "keyup ISO_Level3_Shift", "keyup q"})
        ASSERT_TRUE(x.xdotool(QString::fromLatin1(step).split(QLatin1Char(' '))));
    EXPECT_TRUE(wait_for(
        [&] {
            const auto after = key_presses(mark);
            return std::find(after.begin(), after.end(), std::make_pair(0x02, 0x1F)) != after.end();
        },
        10000));
    const auto after = key_presses(mark);
    EXPECT_NE(std::find(after.begin(), after.end(), std::make_pair(0, 0x38)), after.end()) << "no '/'";
    const auto reports = devsim_km_received(events, "keyboard");
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().value(QStringLiteral("hex")).toString(), QStringLiteral("030000000000000000"));
}

TEST_F(InputE2E, PasteTypesTheClipboardOnAUsRemote)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_NO_FATAL_FAILURE(set_clipboard("Hello, World 42!\n"));
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+v")}));
    const QString expected = QStringLiteral("Hello, World 42!\u23ce");
    EXPECT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("typed")).toString() == expected; }, 20000))
        << dev.status().value(QStringLiteral("typed")).toString().toStdString();
}

TEST_F(InputE2E, PasteUsesTheGermanKeysAndCountsWhatItCannotType)
{
    config = "<config><mouseRate>50</mouseRate><remoteLayout>de</remoteLayout></config>";
    ASSERT_NO_FATAL_FAILURE(start("1", config));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_NO_FATAL_FAILURE(set_clipboard("yZ!\xe6\x97\xa5"));
    const size_t mark = devsim_km_received(events, "keyboard").size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+v")}));
    // Asked first, before anything is typed; the user skips the character.
    ASSERT_NE(x.wait_window("Paste Text: characters without a key", false, 10000), 0u);
    EXPECT_EQ(key_presses(mark).size(), 0u);
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("alt+s")}));
    const std::vector<std::pair<int, int>> expected = {{0, 0x1D}, {0x02, 0x1C}, {0x02, 0x1E}};
    EXPECT_TRUE(wait_for([&] { return key_presses(mark).size() >= expected.size(); }, 10000));
    EXPECT_EQ(key_presses(mark), expected);
    EXPECT_NE(x.wait_window("Paste Text: typed 3 of 4 characters", false, 10000), 0u);
}

TEST_F(InputE2E, PasteWithTheKeyboardChannelDownSaysSoAndTypesNothing)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_NO_FATAL_FAILURE(set_clipboard("typed nowhere"));
    ASSERT_TRUE(dev.command(QStringLiteral("refuse 600000 km")).startsWith(QStringLiteral("ok")));
    ASSERT_TRUE(wait_for([&] { return !dev.status().value(QStringLiteral("km")).toBool(); }, 10000));
    const size_t mark = devsim_km_received(events, "keyboard").size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+v")}));
    EXPECT_NE(x.wait_window("Paste Text: not typed", false, 10000), 0u);
    EXPECT_EQ(key_presses(mark).size(), 0u);
}

// Clicks the tool bar action whose icon is the resource at path.
void click_tool(InputE2E& t, const char* path)
{
    // Off the tool bar first: a button under the pointer is drawn highlighted.
    ASSERT_TRUE(t.move_to(t.on_screen(500, 300)));
    const QRect g = t.x.geometry(t.win);
    const QRect strip(g.left(), g.top(), g.width() - k_area_w, g.height());
    // A tool tip from the last click may still cover the bar for a moment.
    icon_hit button;
    wait_for(
        [&] {
            const QImage shot = t.x.screenshot();
            const QRgb background = shot.pixel(strip.left() + 1, strip.bottom() - 1);
            button = find_icon(shot, strip, QImage(QString::fromLatin1(path)), background);
            return button.err < 6.0;
        },
        5000);
    ASSERT_LT(button.err, 6.0) << path << " is not on the tool bar";
    ASSERT_TRUE(t.move_to(button.centre()));
    ASSERT_TRUE(t.x.xdotool({QStringLiteral("click"), QStringLiteral("1")}));
}

TEST_F(InputE2E, FullScreenGrabsTheKeyboardAndTheChordLetsItGo)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_TRUE(keyboard_free());
    ASSERT_NO_FATAL_FAILURE(click_tool(*this, KVM_SOURCE_DIR "/resources/images/fullscreen.png"));
    ASSERT_TRUE(wait_for([&] { return !keyboard_free(); }, 10000)) << "the viewer did not grab the keyboard";

    const size_t mark = devsim_km_received(events, "keyboard").size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("alt+Tab")}));
    // Left Alt held with Tab (xdotool lets Alt go first).
    EXPECT_TRUE(wait_for([&] { return !key_presses(mark).empty(); }, 10000));
    const auto presses = key_presses(mark);
    ASSERT_FALSE(presses.empty());
    EXPECT_EQ(presses.front(), std::make_pair(0x04, 0x2B));

    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+shift+F12")}));
    EXPECT_TRUE(wait_for([&] { return keyboard_free(); }, 10000)) << "the keyboard is still grabbed";
    // Full screen was left too: the tool bar's button enters it again (and grabs
    // again) instead of leaving it. Nothing of the chord reached the device.
    ASSERT_NO_FATAL_FAILURE(click_tool(*this, KVM_SOURCE_DIR "/resources/images/fullscreen.png"));
    EXPECT_TRUE(wait_for([&] { return !keyboard_free(); }, 10000)) << "the button did not enter full screen";
    for (const auto& p : key_presses(mark))
        EXPECT_NE(p.second, 0x45) << "F12 reached the device";
}

TEST_F(InputE2E, TheGrabLetsGoWhileAnotherClientIsActive)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_NO_FATAL_FAILURE(click_tool(*this, KVM_SOURCE_DIR "/resources/images/fullscreen.png"));
    ASSERT_TRUE(wait_for([&] { return !keyboard_free(); }, 10000)) << "the viewer did not grab the keyboard";

    // Another client (a terminal, say) takes the focus: the grab goes, and
    // what is typed there stays there.
    Display* d = x.dpy();
    const Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
    XMapWindow(d, other);
    XSync(d, False);
    ASSERT_TRUE(wait_for(
        [&] {
            XSetInputFocus(d, other, RevertToParent, CurrentTime);
            XSync(d, False);
            return keyboard_free();
        },
        10000))
        << "the grab outlived the focus";
    const size_t mark = devsim_km_received(events, "keyboard").size();
    ASSERT_TRUE(x.xdotool({QStringLiteral("type"), QStringLiteral("secret")}));

    // Back to the viewer: the grab is taken again and keys go through.
    ASSERT_TRUE(wait_for(
        [&] {
            XSetInputFocus(d, win, RevertToParent, CurrentTime);
            XSync(d, False);
            return !keyboard_free();
        },
        10000))
        << "the grab was not taken again";
    ASSERT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("x")}));
    ASSERT_TRUE(wait_for([&] { return !key_presses(mark).empty(); }, 10000));
    const auto presses = key_presses(mark);
    for (const auto& p : presses)
        EXPECT_EQ(p.second, 0x1B) << "a key typed into the other client reached the device";
    XDestroyWindow(d, other);
    XSync(d, False);
}

// ------------------------------------------------------------ absolute mouse

TEST_F(InputE2E, AButtonReleasedOutsideThePictureIsReleasedOnTheDevice)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_TRUE(move_to(on_screen(400, k_origin_y + 200)));
    ASSERT_TRUE(x.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("buttons")).toInt() == 1; }, 5000));
    // Dragged out of the window, released there.
    const QRect g = x.geometry(win);
    ASSERT_TRUE(move_to(QPoint(g.right() + 100, g.bottom() + 100)));
    ASSERT_TRUE(x.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    EXPECT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("buttons")).toInt() == 0; }, 1000));
}

TEST_F(InputE2E, ADoubleClickDoesNotMakeTheNextAlignmentADrag)
{
    ASSERT_NO_FATAL_FAILURE(start("1"));
    ASSERT_NO_FATAL_FAILURE(focus_video());
    ASSERT_TRUE(move_to(on_screen(400, k_origin_y + 200)));
    ASSERT_TRUE(x.xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                         QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")}));
    ASSERT_TRUE(wait_for([&] { return dev.status().value(QStringLiteral("buttons")).toInt() == 0; }, 5000));
    const size_t mark = devsim_km_received(events, "mouse-rel").size();
    // A resize asks for an alignment at the next move over the picture.
    ASSERT_TRUE(x.xdotool({QStringLiteral("windowsize"), QString::number(win), QStringLiteral("1100"),
                         QStringLiteral("700")}));
    ASSERT_TRUE(wait_for([&] { return x.geometry(win).width() == 1100; }, 5000));
    ASSERT_TRUE(move_to(on_screen(300, 300)));
    ASSERT_TRUE(move_to(on_screen(310, 305)));
    ASSERT_TRUE(wait_for([&] { return devsim_km_received(events, "mouse-rel").size() >= mark + 20; }, 10000))
        << "no alignment reached the device";
    const auto reports = devsim_km_received(events, "mouse-rel");
    for (size_t i = mark; i < reports.size(); ++i)
        EXPECT_EQ(reports[i].value(QStringLiteral("fields")).toObject().value(QStringLiteral("buttons")).toInt(), 0)
            << reports[i].value(QStringLiteral("hex")).toString().toStdString();
}
