// Input capture: the event filter installed on the window and on the video
// label, the mouse sampling timer with its settings dialog, and the device's
// lock LED state.
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

#include "h264video.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "tools/key_mouse/km_messages.h"
#include "ui/c_config_file.h"
#include "ui/c_ui_video_setting_dlg.h"
#include "ui/mouse_rate.h"

namespace {

const int LED_HOLD_MS = 3000;
const int REL_MIDDLE_WHEEL = 4;  // the middle button travels in the wheel byte

bool relativeMode()
{
    return g_para.mouseMode == 0;
}

bool isLockKey(int key)
{
    return key == Qt::Key_CapsLock || key == Qt::Key_NumLock || key == Qt::Key_ScrollLock;
}

int absButtonsForPress(int current, Qt::MouseButton b)
{
    if (b == Qt::LeftButton)
        return KM_ABS_LEFT;
    if (b == Qt::RightButton)
        return KM_ABS_RIGHT;
    return current;  // the middle button has no absolute state
}

}  // namespace

bool H264Video::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        // Bring the video to the front with the keyboard on it.
        QWidget* top = ui.label->window();
        top->raise();
        top->activateWindow();
        ui.label->setFocus(Qt::ActiveWindowFocusReason);
    }

    if (watched == this)
        return filterWindowEvent(event) || QMainWindow::eventFilter(watched, event);

    if (watched == ui.label) {
        // A focus change inside the window (a popup, another widget) would leave
        // keys held on the remote side, as their releases go elsewhere.
        if (event->type() == QEvent::FocusOut && m_keyTranslator) {
            releaseHeldInput(false);
            return QMainWindow::eventFilter(watched, event);
        }
        if (m_writePrivilege.load() != 1)
            return QMainWindow::eventFilter(watched, event);
        return filterLabelEvent(event) || QMainWindow::eventFilter(watched, event);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool H264Video::filterWindowEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowDeactivate: {
        if (!m_keyTranslator)
            return false;
        // Everything is let go, with or without write privilege: keys released
        // in another application never reach this window.
        m_keyTranslator->reset();
        LOG_INFO("all key release when qt lost focus");
        sendKeyboardReport("keyRelease2,", m_keyTranslator->report());
        return true;
    }
    case QEvent::Close:
        writeClientSize();
        return false;
    default:
        return false;
    }
}

bool H264Video::filterLabelEvent(QEvent* event)
{
    const QEvent::Type e = event->type();
    switch (e) {
    case QEvent::Enter:
        enterVideo();
        return false;

    case QEvent::Leave:
        leaveVideo();
        return false;

    case QEvent::Wheel: {
        const QWheelEvent* w = static_cast<QWheelEvent*>(event);
        const QPoint delta = w->angleDelta();
        const int d = delta.y() != 0 ? delta.y() : delta.x();
        if (!relativeMode()) {
            sendAbsoluteMouse(d > 0 ? 1 : -1);
        } else {
            // No wheel in relative mode: only the movement to the cursor, in the
            // sampler's coordinates (the window's own are off by the tool bar).
            QPoint p = ui.label->mapFromGlobal(QCursor::pos()) - m_videoOrigin;
            p.setX(std::clamp(p.x(), 0, m_scaledSize.width()));
            p.setY(std::clamp(p.y(), 0, m_scaledSize.height()));
            sendRelativeMouse(p);
        }
        return false;
    }

    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        if (!m_mouseTranslator)
            return true;
        const Qt::MouseButton b = static_cast<QMouseEvent*>(event)->button();
        // A double click counts as one more press.
        const int kind = e == QEvent::MouseButtonRelease ? c_mouse_translator::KIND_RELEASE
                                                          : c_mouse_translator::KIND_PRESS;
        const bool middle = b == Qt::MiddleButton;
        unsigned char report[c_mouse_translator::REPORT_SIZE];
        int length = 0;
        if (relativeMode() || e == QEvent::MouseButtonDblClick)
            m_mouseTranslator->build(middle ? 0 : int(b), kind, 0, 0, middle ? REL_MIDDLE_WHEEL : 0, report, length);
        if (relativeMode()) {
            sendKmMessage(CMD_KM_MOUSE_REL, length, report);
        } else {
            m_absButtons = kind == c_mouse_translator::KIND_PRESS ? absButtonsForPress(m_absButtons, b) : KM_ABS_NONE;
            sendAbsoluteMouse(0);
        }
        return true;
    }

    case QEvent::MouseMove:
        if (m_alignOnNextMove) {
            on_slot_mouse_align();
            m_alignOnNextMove = 0;
        }
        m_mouseMoved = 1;  // the sampling timer sends it
        return true;

    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        if (!m_keyTranslator)
            return true;
        const bool pressed = e == QEvent::KeyPress;
        const int key = static_cast<QKeyEvent*>(event)->key();
        unsigned char report[c_key_translator::REPORT_SIZE];
        int length = 0;
        if (!m_keyTranslator->translate(key, pressed, report, length))
            return false;  // no usage: the label gets the key
        sendKeyboardReport(pressed ? "keyPress2," : "keyRelease2,", report);
        if (pressed && isLockKey(key)) {
            LOG_WARN("I click led");
            m_ledHoldUntil = QDateTime::currentDateTime().addMSecs(LED_HOLD_MS);
            m_ledSync.set_hold_until(m_ledHoldUntil.toMSecsSinceEpoch());
        }
        return true;
    }

    default:
        return false;
    }
}

void H264Video::sendKeyboardReport(const char* prefix, const unsigned char* report)
{
    LOG_INFO("%s,keyBuf=%s", prefix, km_report_text(report, KM_KEYBOARD_LEN).c_str());
    sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, report);
}

void H264Video::releaseHeldInput(bool forceKeyboard)
{
    if (m_keyTranslator) {
        static const unsigned char none[KM_KEYBOARD_LEN] = {0};
        if (forceKeyboard || std::memcmp(m_keyTranslator->report(), none, KM_KEYBOARD_LEN) != 0) {
            m_keyTranslator->reset();
            LOG_INFO("all key release, keys held when input stopped");
            sendKeyboardReport("keyRelease2,", m_keyTranslator->report());
        }
    }
    if (m_mouseTranslator && m_mouseTranslator->buttons() != 0) {
        unsigned char report[c_mouse_translator::REPORT_SIZE];
        int length = 0;
        for (int b : {c_mouse_translator::BUTTON_LEFT, c_mouse_translator::BUTTON_RIGHT,
                      c_mouse_translator::BUTTON_MIDDLE})
            m_mouseTranslator->build(b, c_mouse_translator::KIND_RELEASE, 0, 0, 0, report, length);
        sendKmMessage(CMD_KM_MOUSE_REL, length, report);
    }
    if (!relativeMode() && m_absButtons != KM_ABS_NONE) {
        m_absButtons = KM_ABS_NONE;
        sendAbsoluteMouse(0);
    }
}

// ------------------------------------------------------------ sampling timer

void H264Video::startSampleTimer()
{
    // One timer only: a second grant while sampling restarts it.
    stopSampleTimer();
    m_sampleTimer = startTimer(mouse_sample_interval_ms(), Qt::PreciseTimer);
}

void H264Video::stopSampleTimer()
{
    if (m_sampleTimer) {
        killTimer(m_sampleTimer);
        m_sampleTimer = 0;
    }
}

void H264Video::onSampleTimer()
{
    if (m_mouseMoved) {
        m_mouseMoved = 0;
        if (!relativeMode()) {
            sendAbsoluteMouse(0);
        } else {
            const QPoint pos = ui.label->mapFromGlobal(QCursor::pos());
            LOG_INFO("isMouseMove pos:%d,%d origin_pos:%d,%d", pos.x(), pos.y(), m_videoOrigin.x(), m_videoOrigin.y());
            const QPoint p = pos - m_videoOrigin;
            if (p.x() >= 0 && p.y() >= 0 && p.x() <= m_scaledSize.width() && p.y() <= m_scaledSize.height())
                sendRelativeMouse(p);
        }
    }
    if (m_restartSampleTimer) {
        m_restartSampleTimer = 0;
        startSampleTimer();
    }
}

void H264Video::on_slot_show_video_seting()
{
    // Modal; the rate chosen there takes effect at the sampling timer's next tick.
    c_config_file config(kvm_paths::settings_file(QStringLiteral("config.xml")));
    c_ui_video_setting_dlg::showAndSave(this, &m_videoSendQueue, config);
    m_restartSampleTimer = 1;
}

// ------------------------------------------------------------ lock LEDs

void H264Video::setupLedSync()
{
    // XKB only where the window lives on an X server; elsewhere only the companion.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // The same server Qt uses; the LED sync keeps a connection of its own,
        // as it works on the video receive thread.
        m_ledSync.set_x11_display(qgetenv("DISPLAY"));
    }
    m_ledSync.set_hold_until(m_ledHoldUntil.isValid() ? m_ledHoldUntil.toMSecsSinceEpoch()
                                                      : QDateTime::currentMSecsSinceEpoch());
}

void H264Video::applyLedState(uint8_t bits)
{
    m_ledSync.apply(bits);
}
