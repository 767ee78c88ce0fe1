// Input capture on a real main window (offscreen) connected to the test
// device in process: Qt events go to the video label and the test reads what
// the device received over the KM channel.
#include <gtest/gtest.h>

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"
#include "common/log_capture.h"
#include "tools/key_mouse/km_messages.h"
#include "ui/c_ui_video_setting_dlg.h"
#include "ui/mouse_rate.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes kb(std::initializer_list<uint8_t> report)
{
    return devsim_window::keyboard(report);
}

void send_mouse(QWidget* target, QEvent::Type type, Qt::MouseButton button, const QPoint& local)
{
    const QPointF global = target->mapToGlobal(QPointF(local));
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent ev(type, QPointF(local), global, button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &ev);
}

// Puts the cursor on a label point and tells the label it moved there.
void move_to(QWidget* label, const QPoint& local)
{
    QCursor::setPos(label->mapToGlobal(local));
    send_mouse(label, QEvent::MouseMove, Qt::NoButton, local);
}

void send_wheel(QWidget* target, int delta)
{
    const QPointF local(10, 10);
    QWheelEvent ev(local, target->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &ev);
}

int count_lines(LogCapture& log, const std::string& text)
{
    int n = 0;
    for (const std::string& l : log.lines())
        if (l.find(text) != std::string::npos)
            ++n;
    return n;
}

std::vector<bytes> bodies(const std::vector<devsim_km_message>& msgs)
{
    std::vector<bytes> out;
    for (const auto& m : msgs)
        out.push_back(m.body);
    return out;
}

// The window shown with its label at width x height, once the device's
// privilege answer has been acted on.
bool show_ready(devsim_window& d, int width, int height, int privilege)
{
    H264Video& w = *d.window;
    w.show();
    w.resize(w.ui.toolBar->width() + width, height);
    return pump_until([&] {
        return H264VideoInputPeer::writePrivilege(w) == privilege && !H264VideoInputPeer::privRequestPending(w) &&
               (privilege == 1 ? H264VideoInputPeer::sampleTimer(w) != 0 : H264VideoInputPeer::cannotGrabIcon(w)) &&
               H264VideoTestPeer::decodedSize(w) == QSize(320, 240) && w.displayArea() == QSize(width, height) &&
               H264VideoTestPeer::areaSize(w) == QSize(width, height);
    }, 10000);
}

// A report that marks a point in the KM stream: once the device has it,
// everything queued before has arrived too. Sends B pressed and released.
void sentinel(devsim_window& d, size_t from)
{
    QTest::keyPress(d.window->ui.label, Qt::Key_B);
    QTest::keyRelease(d.window->ui.label, Qt::Key_B);
    const long pressed = d.wait_km_body(from, kb({0, 0, 0x05}));
    ASSERT_GE(pressed, 0);
    // The release after B's press, not an earlier all-up report.
    ASSERT_GE(d.wait_km_body(size_t(pressed) + 1, kb({0})), 0);
}

}  // namespace

TEST(InputCapture, WithoutWritePrivilegeNothingIsForwardedAndTheLabelKeepsItsEvents)
{
    devsim_window d(1, [](c_devsim_options& o) { o.privilege = 0; });
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 0));
    EXPECT_EQ(H264VideoInputPeer::sampleTimer(w), 0);

    QLabel* label = w.ui.label;
    const size_t mark = d.km_count();
    QTest::keyClick(label, Qt::Key_A);
    QTest::keyClick(label, Qt::Key_CapsLock);
    send_mouse(label, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(100, 100));
    send_mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(100, 100));
    move_to(label, QPoint(300, 200));
    send_wheel(label, 120);
    pump_for(100);  // a few sampling periods, were the timer running

    // The filter hands the label's events on instead of consuming them.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    EXPECT_FALSE(w.eventFilter(label, &key));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    EXPECT_FALSE(w.eventFilter(label, &press));

    // A deactivation reports all keys up even without write privilege; it is
    // the first keyboard or mouse message the device sees.
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&w, &deactivate);
    const long at = d.wait_km_body(mark, kb({0}));
    ASSERT_GE(at, 0);
    for (const auto& m : d.km_since(mark))
        if (m.type() == CMD_KM_KEYBOARD || m.type() == CMD_KM_MOUSE_REL || m.type() == CMD_KM_MOUSE_ABS) {
            EXPECT_EQ(m.body, kb({0}));
            break;
        }
    EXPECT_EQ(d.dev->typed(), QString());

    // Granted, the same key is the remote computer's.
    EXPECT_TRUE(d.dev->command(QStringLiteral("privilege 1")).startsWith(QLatin1String("ok")));
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleTimer(w) != 0; }));
    EXPECT_TRUE(w.eventFilter(label, &key));
    EXPECT_GE(d.wait_km_body(mark, kb({0, 0, 0x05})), 0);
}

TEST(InputCapture, ShiftAThenReleasesSendsFourFullReportsAndKeysWithoutUsageStayLocal)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    QLabel* label = w.ui.label;

    size_t mark = d.km_count();
    QTest::keyPress(label, Qt::Key_Shift);
    QTest::keyPress(label, Qt::Key_A);
    QTest::keyRelease(label, Qt::Key_A);
    QTest::keyRelease(label, Qt::Key_Shift);
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 4));
    EXPECT_EQ(bodies(d.km_since(mark, CMD_KM_KEYBOARD)),
              (std::vector<bytes>{kb({2, 0, 0}), kb({2, 0, 4}), kb({2, 0, 0}), kb({0})}));
    EXPECT_EQ(d.dev->typed(), QStringLiteral("A"));
    EXPECT_TRUE(log.contains("keyPress2,,keyBuf=2,0,4,0,0,0,0,0"));
    EXPECT_TRUE(log.contains("keyRelease2,,keyBuf=2,0,0,0,0,0,0,0"));
    EXPECT_TRUE(log.contains("keyRelease2,,keyBuf=0,0,0,0,0,0,0,0"));

    // The framework's own Print key has no usage: logged, neither sent nor consumed.
    mark = d.km_count();
    QKeyEvent print(QEvent::KeyPress, Qt::Key_Print, Qt::NoModifier);
    EXPECT_FALSE(w.eventFilter(label, &print));
    EXPECT_TRUE(log.contains("pSpecialKey==specialKeys.end() 16777225"));

    // A lock key is sent and holds the device's LED reports off for 3 s.
    const QDateTime before = QDateTime::currentDateTime();
    QTest::keyPress(label, Qt::Key_CapsLock);
    EXPECT_TRUE(log.contains("I click led"));
    const qint64 hold = before.msecsTo(H264VideoInputPeer::ledHoldUntil(w));
    EXPECT_GE(hold, 3000);
    EXPECT_LT(hold, 3000 + 2000);
    EXPECT_EQ(H264VideoInputPeer::ledSync(w).hold_until(), H264VideoInputPeer::ledHoldUntil(w).toMSecsSinceEpoch());
    // Its release sets no new hold.
    const QDateTime held = H264VideoInputPeer::ledHoldUntil(w);
    QTest::keyRelease(label, Qt::Key_CapsLock);
    EXPECT_EQ(H264VideoInputPeer::ledHoldUntil(w), held);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    // Print sent nothing: the first keyboard message after it is CapsLock.
    EXPECT_EQ(d.km_since(mark, CMD_KM_KEYBOARD).front().body, kb({0, 0, 0x39}));
}

TEST(InputCapture, KeysStillReachTheDeviceInOrderAfterTheMediaChannelIsLost)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    QLabel* label = w.ui.label;

    // Keys go out on the KM channel's own send thread...
    size_t mark = d.km_count();
    QTest::keyClick(label, Qt::Key_X);
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 2));

    // ...and the device drops the media channel.
    ASSERT_TRUE(d.wait_channel("media"));
    ASSERT_TRUE(d.dev->command(QStringLiteral("close media")).startsWith(QStringLiteral("ok closed")));
    ASSERT_TRUE(pump_until([&] { return log.contains("media channel lost"); }, 5000));

    // Every key typed afterwards still arrives, in order.
    mark = d.km_count();
    const QString text = QStringLiteral("abcdefghijklmnopqrst");
    for (QChar c : text)
        QTest::keyClick(label, Qt::Key(Qt::Key_A + (c.unicode() - 'a')));
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, size_t(2 * text.size()), 10000))
        << d.km_since(mark, CMD_KM_KEYBOARD).size() << " of " << 2 * text.size();
    EXPECT_EQ(d.dev->typed(), QStringLiteral("x") + text);
}

TEST(InputCapture, KeysReachTheDeviceWhenTheMediaChannelNeverConnected)
{
    LogCapture log;
    devsim_window d(1, devsim_window::tweak_fn(), false);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));

    const size_t mark = d.km_count();
    for (Qt::Key k : {Qt::Key_O, Qt::Key_K})
        QTest::keyClick(w.ui.label, k);
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_KEYBOARD, 4));
    EXPECT_EQ(d.dev->typed(), QStringLiteral("ok"));
}

TEST(InputCapture, DeactivationAndFocusLossLetEverythingGoOnce)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    QLabel* label = w.ui.label;
    QTest::keyPress(label, Qt::Key_Control);
    QTest::keyPress(label, Qt::Key_C);
    ASSERT_GE(d.wait_km_body(0, kb({1, 0, 0x06})), 0);
    const size_t mark = d.km_count();

    QEvent deactivate(QEvent::WindowDeactivate);
    EXPECT_TRUE(w.eventFilter(&w, &deactivate));
    EXPECT_TRUE(log.contains("all key release when qt lost focus"));
    EXPECT_TRUE(log.contains("keyRelease2,,keyBuf=0,0,0,0,0,0,0,0"));

    // The held keys are forgotten: their releases after coming back change nothing.
    QTest::keyRelease(label, Qt::Key_C);
    QTest::keyRelease(label, Qt::Key_Control);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    EXPECT_EQ(bodies(d.km_since(mark, CMD_KM_KEYBOARD)),
              (std::vector<bytes>{kb({0}), kb({0}), kb({0}), kb({0, 0, 0x05}), kb({0})}));

    // Keys held while the focus moves on inside the window (a popup), whose
    // releases will go elsewhere, are let go too; once only.
    QTest::keyPress(label, Qt::Key_Alt);
    QTest::keyPress(label, Qt::Key_Tab);
    ASSERT_GE(d.wait_km_body(mark, kb({4, 0, 0x2B})), 0);
    const size_t focusMark = d.km_count();
    QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(label, &out);
    QCoreApplication::sendEvent(label, &out);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, focusMark));
    EXPECT_EQ(bodies(d.km_since(focusMark, CMD_KM_KEYBOARD)),
              (std::vector<bytes>{kb({0}), kb({0, 0, 0x05}), kb({0})}));
}

TEST(InputCapture, RelativeButtonsWheelAndOneSamplePerTick)
{
    LogCapture log;
    devsim_window d(0);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    // 320 x 240 shown at 640 x 480: half a remote count per local pixel.
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    ASSERT_FLOAT_EQ(H264VideoTestPeer::scaleX(w), 0.5f);
    QLabel* label = w.ui.label;

    // The grant and the first move over the video align the mouse (reports
    // towards the top left corner); let all of it reach the device.
    size_t mark = d.km_count();
    move_to(label, QPoint(0, 0));
    ASSERT_TRUE(pump_until([&] { return log.contains("isMouseMove pos:"); }));
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    mark = d.km_count();

    // Buttons go out at once; the middle button travels as wheel byte 4.
    send_mouse(label, QEvent::MouseButtonPress, Qt::MiddleButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonPress, Qt::LeftButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonPress, Qt::RightButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonDblClick, Qt::LeftButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonRelease, Qt::LeftButton, QPoint(0, 0));
    send_mouse(label, QEvent::MouseButtonRelease, Qt::RightButton, QPoint(0, 0));
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_MOUSE_REL, 7));
    EXPECT_EQ(bodies(d.km_since(mark, CMD_KM_MOUSE_REL)),
              (std::vector<bytes>{{5, 0, 0, 0, 4},
                                  {5, 1, 0, 0, 0},
                                  {5, 0, 0, 0, 0},
                                  {5, 2, 0, 0, 0},
                                  {5, 3, 0, 0, 0},  // a double click is one more press
                                  {5, 2, 0, 0, 0},
                                  {5, 0, 0, 0, 0}}));

    // Ten moves between two ticks: one sample of where the cursor is last.
    log.clear();
    mark = d.km_count();
    for (int i = 1; i <= 10; ++i)
        move_to(label, QPoint(20 * i, 10 * i));
    ASSERT_TRUE(pump_until([&] { return log.contains("isMouseMove pos:"); }));
    pump_for(100);  // about five more ticks without moves
    EXPECT_EQ(count_lines(log, "isMouseMove pos:"), 1);
    EXPECT_TRUE(log.contains("isMouseMove pos:200,100 origin_pos:0,0"));

    // A cursor outside the picture is noted but sends nothing.
    move_to(label, QPoint(-40, 10));
    ASSERT_TRUE(pump_until([&] { return log.contains("isMouseMove pos:-40,10"); }));

    // The wheel sends no wheel in relative mode, only the movement from the
    // last sample to the cursor, clamped into the picture.
    QCursor::setPos(label->mapToGlobal(QPoint(260, 120)));
    send_wheel(label, -120);
    QCursor::setPos(label->mapToGlobal(QPoint(-500, 120)));
    send_wheel(label, 120);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    // (200, 100) local at half scale; then to (260, 120), 30 and 10 counts,
    // and to (0, 120), 130 counts left, as reports of at most 127 each.
    // Movement still waiting when the next comes is added to it.
    const std::vector<bytes> got = bodies(d.km_since(mark, CMD_KM_MOUSE_REL));
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], (bytes{5, 0, 100, 50, 0}));
    int dx = 0, dy = 0;
    for (size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[i][1], 0) << i;
        EXPECT_EQ(got[i][4], 0) << i;
        dx += int8_t(got[i][2]);
        dy += int8_t(got[i][3]);
    }
    EXPECT_EQ(dx, 30 - 130);
    EXPECT_EQ(dy, 10);
}

TEST(InputCapture, AbsoluteButtonsKeepOrClearTheStateAndTheWheelIsOneStep)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    QLabel* label = w.ui.label;
    const QPoint centre(320, 240);
    move_to(label, QPoint(1, 1));  // the first move aligns, which moves the cursor
    pump_for(50);
    move_to(label, centre);
    ASSERT_GE(d.wait_km_body(0, {44, 0, 0xC0, 0x03, 0x58, 0x02, 0}), 0);
    size_t mark = d.km_count();

    // (320, 240) on 640 x 480 is (960, 600) on the grid: C0 03 58 02.
    send_mouse(label, QEvent::MouseButtonPress, Qt::LeftButton, centre);
    send_mouse(label, QEvent::MouseButtonPress, Qt::MiddleButton, centre);
    send_mouse(label, QEvent::MouseButtonRelease, Qt::MiddleButton, centre);
    send_mouse(label, QEvent::MouseButtonPress, Qt::RightButton, centre);
    send_wheel(label, 120);
    send_wheel(label, -240);
    // Leaving the label lets the button go.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(label, &leave);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    EXPECT_EQ(bodies(d.km_since(mark, CMD_KM_MOUSE_ABS)),
              (std::vector<bytes>{{44, 1, 0xC0, 0x03, 0x58, 0x02, 0},
                                  {44, 1, 0xC0, 0x03, 0x58, 0x02, 0},  // middle: the state stays
                                  {44, 0, 0xC0, 0x03, 0x58, 0x02, 0},  // its release clears it
                                  {44, 2, 0xC0, 0x03, 0x58, 0x02, 0},
                                  {44, 2, 0xC0, 0x03, 0x58, 0x02, 1},
                                  {44, 2, 0xC0, 0x03, 0x58, 0x02, 0xFF},
                                  {44, 0, 0xC0, 0x03, 0x58, 0x02, 0}}));

    // Moves between two ticks collapse into one report of the last position.
    mark = d.km_count();
    for (int i = 0; i < 8; ++i)
        move_to(label, QPoint(10 + i, 20));
    ASSERT_TRUE(d.wait_km_count(mark, CMD_KM_MOUSE_ABS, 1));
    pump_for(100);
    ASSERT_NO_FATAL_FAILURE(sentinel(d, mark));
    // (17, 20) local: (8, 10) on the 320 x 240 picture: (48, 50) on the grid.
    EXPECT_EQ(bodies(d.km_since(mark, CMD_KM_MOUSE_ABS)), (std::vector<bytes>{{44, 0, 48, 0, 50, 0, 0}}));
}

TEST(InputCapture, SamplingIntervalFollowsMouseRateWithOneTimerOnly)
{
    LogCapture log;
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    const int32_t saved = mouseRate;
    mouseRate = 3;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    EXPECT_EQ(H264VideoInputPeer::sampleIntervalMs(w), 333);

    // A grant while sampling restarts the timer instead of adding one.
    const size_t mark = d.km_count();
    EXPECT_TRUE(d.dev->command(QStringLiteral("grab 0")).startsWith(QLatin1String("ok")));
    ASSERT_GE(d.wait_km_body(mark, {CMD_KM_GRAB_RESULT, 0}), 0);
    ASSERT_TRUE(pump_until([&] { return !H264VideoInputPeer::privRequestPending(w); }));
    EXPECT_EQ(H264VideoInputPeer::timersWithInterval(w, 333), 1);

    // The video settings dialog from the tool bar: rate 10 chosen on its slider;
    // the first tick after it closed restarts sampling at 100 ms.
    QTimer::singleShot(50, [] {
        auto* dlg = qobject_cast<c_ui_video_setting_dlg*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        dlg->ui.hSlider->setValue(10);
        dlg->close();
    });
    w.ui.actionVideo_Config->trigger();  // returns when the dialog has closed
    EXPECT_EQ(mouseRate, 10);
    EXPECT_TRUE(log.contains("mouse sample interval:100"));
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleIntervalMs(w) == 100; }, 2000));
    EXPECT_EQ(H264VideoInputPeer::timersWithInterval(w, 333), 0);

    // The same at the upper end of what the rate can be.
    mouseRate = 1000;
    H264VideoInputPeer::restartSampleTimerAtNextTick(w);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleIntervalMs(w) == 1; }, 2000));

    // A rate that is not positive keeps the default 20 ms.
    mouseRate = 0;
    H264VideoInputPeer::restartSampleTimerAtNextTick(w);
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleIntervalMs(w) == 20; }, 2000));
    mouseRate = saved;

    // A read state stops sampling.
    EXPECT_TRUE(d.dev->command(QStringLiteral("privilege 0")).startsWith(QLatin1String("ok")));
    ASSERT_TRUE(pump_until([&] { return H264VideoInputPeer::sampleTimer(w) == 0; }));
    EXPECT_EQ(H264VideoInputPeer::sampleIntervalMs(w), -1);
}

// Where the local LEDs cannot follow the device (no X server of its own, no
// companion: here the offscreen platform, as on Wayland), the device's lock
// state is shown in the tool bar, as the video channel reports it.
TEST(InputCapture, LockStateIsShownWhereTheLedsCannotFollow)
{
    devsim_window d(1);
    ASSERT_TRUE(d.started);
    H264Video& w = *d.window;
    ASSERT_TRUE(show_ready(d, 640, 480, 1));
    QLabel* indicator = w.findChild<QLabel*>(QStringLiteral("lockIndicator"));
    ASSERT_NE(indicator, nullptr);
    d.dev->set_leds(0x02, true);  // Caps Lock on the remote computer
    EXPECT_TRUE(pump_until([&] { return indicator->property("lockBits").toInt() == 0x02; }, 10000));
    EXPECT_TRUE(indicator->text().contains(QStringLiteral("<b>Caps</b>"))) << indicator->text().toStdString();
    d.dev->set_leds(0x05, true);
    EXPECT_TRUE(pump_until([&] { return indicator->property("lockBits").toInt() == 0x05; }, 10000));
}
