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
#include <QPainter>
#include <QToolBar>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstring>

#include <QMessageBox>

#include "h264video.h"
#include "session/c_text_typer.h"
#include "platform/desktop_input.h"
#include "session/c_video_channel.h"
#include "log/log.h"
#include "session_params.h"
#include "tools/key_mouse/c_character_keys.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/key_mouse/c_mouse_translator.h"
#include "ui/mouse_rate.h"
#include "tools/key_mouse/hid_keycodes.h"
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

const Qt::KeyboardModifiers CHORD_MODIFIERS = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;

// A keyboard for the tool bar: the resources hold no such picture.
QIcon keyboardIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(235, 235, 235));
    p.drawRoundedRect(QRectF(2, 8, 28, 17), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 6; ++col)
            p.drawRect(QRectF(5 + col * 4, 11 + row * 4, 2.5, 2.5));
    p.drawRect(QRectF(9, 19.5, 14, 2.5));
    p.end();
    return QIcon(pm);
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
        if (watched == this && m_desktop) {
            const bool first = !m_desktopAttached;
            m_desktop->attach();
            m_desktopAttached = true;
            if (first && relativeMode() && !m_desktop->relative_mode_exact())
                showNotice(tr("Relative mouse mode is approximate here: the desktop cannot lock the pointer. "
                              "Absolute mode follows the pointer exactly."));
        }
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
        if (handleLocalChord(event))
            return true;
        if (m_writePrivilege.load() != 1)
            return QMainWindow::eventFilter(watched, event);
        return filterLabelEvent(event) || QMainWindow::eventFilter(watched, event);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool H264Video::filterWindowEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowStateChange:
    case QEvent::WindowActivate:
        updateKeyboardGrab();
        return false;
    case QEvent::WindowDeactivate: {
        // A modal dialog of ours (the privilege question) needs the keys.
        updateKeyboardGrab();
        if (m_desktop)
            m_desktop->set_pointer_locked(false);
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
        // A give-up question still open is answered No, and the close goes on.
        if (m_giveupBox)
            m_giveupBox->done(QMessageBox::No);
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
        lockPointerForRelativeMode();
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
        } else if (!(m_desktop && m_desktop->pointer_locked())) {
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
        if (kind == c_mouse_translator::KIND_PRESS)
            lockPointerForRelativeMode();  // again, after the chord set it free
        if (relativeMode()) {
            unsigned char report[c_mouse_translator::REPORT_SIZE];
            int length = 0;
            m_mouseTranslator->build(middle ? 0 : int(b), kind, 0, 0, middle ? REL_MIDDLE_WHEEL : 0, report, length);
            sendKmMessage(CMD_KM_MOUSE_REL, length, report);
        } else {
            // The relative builder stays out of it: its buttons would ride on
            // the next alignment's reports as a drag.
            m_absButtons = kind == c_mouse_translator::KIND_PRESS ? absButtonsForPress(m_absButtons, b) : KM_ABS_NONE;
            // A release outside the picture still reaches the device, at its edge.
            sendAbsoluteMouse(0, kind == c_mouse_translator::KIND_RELEASE);
        }
        return true;
    }

    case QEvent::MouseMove:
        if (m_alignOnNextMove) {
            on_slot_mouse_align();
            m_alignOnNextMove = 0;
        }
        m_mouseMoved = 1;  // the sampling timer sends it
        resumeSampling();
        return true;

    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        if (!m_keyTranslator)
            return true;
        const bool pressed = e == QEvent::KeyPress;
        const QKeyEvent* ke = static_cast<QKeyEvent*>(event);
        const int key = ke->key();
        unsigned char report[c_key_translator::REPORT_SIZE];
        int length = 0;
        if (characterKey(ke, pressed, report)) {
            // A virtual keyboard's character, typed as the remote layout types it.
            if (ke->isAutoRepeat())
                return true;
        } else if (const uint8_t usage = positionUsage(ke)) {
            // The remote computer repeats a held key itself.
            if (ke->isAutoRepeat())
                return true;
            m_keyTranslator->translateUsage(usage, pressed, report, length);
        } else if (!m_keyTranslator->translate(key, pressed, report, length, ke->nativeScanCode())) {
            return false;  // no usage: the label gets the key
        }
        if (m_typer && m_typer->busy()) {
            // While text is typed the keys stay here (Esc cancels it); the
            // text's last report lets everything go on the remote side.
            if (pressed && key == Qt::Key_Escape)
                m_typer->cancel();
            return true;
        }
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

bool H264Video::characterKey(const QKeyEvent* event, bool pressed, unsigned char* report)
{
    // Only keys whose code is no keyboard position, and only characters that
    // are typed (Ctrl+C and friends keep going by key).
    if (!m_desktop || m_desktop->keys_by_position())
        return false;
    const std::string layout = m_remoteLayout.toStdString();
    if (!m_characterKeys || m_characterKeys->layout() != layout)
        m_characterKeys = std::make_unique<c_character_keys>(layout);
    const QString text = event->text();
    const char32_t c = text.size() == 1 ? char32_t(text.at(0).unicode()) : 0;
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool typed = c >= 0x20 && c != 0x7f && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typed && (pressed ? m_characterKeys->press(*m_keyTranslator, c, report)
                          : m_characterKeys->release(*m_keyTranslator, c, report)))
        return true;
    if (c_key_translator::isModifier(event->key()))
        return false;  // a modifier's own key event goes by key, as always
    // Report bits: Ctrl 0, Shift 1, Alt 2, GUI 3.
    const uint8_t bits = uint8_t(((mods & Qt::ControlModifier) ? 1 : 0) | ((mods & Qt::ShiftModifier) ? 2 : 0) |
                                 ((mods & Qt::AltModifier) ? 4 : 0) | ((mods & Qt::MetaModifier) ? 8 : 0));
    return pressed ? m_characterKeys->press_key(*m_keyTranslator, event->key(), bits, report)
                   : m_characterKeys->release_key(*m_keyTranslator, event->key(), report);
}

uint8_t H264Video::positionUsage(const QKeyEvent* event) const
{
    if (!m_keysByPosition)
        return 0;
    // A virtual keyboard's keymap numbers keys as it likes: by character then.
    if (m_desktop && !m_desktop->keys_by_position())
        return 0;
    // Only there is the native scan code the evdev code + 8; events made up by
    // the program itself (or other platforms) carry none and go by character.
    static const bool evdevCodes = QGuiApplication::platformName() == QLatin1String("xcb") ||
                                   QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    return evdevCodes ? hid_usage_for_x11_keycode(event->nativeScanCode()) : 0;
}

bool H264Video::handleLocalChord(QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    const QKeyEvent* ke = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyRelease) {
        // The chord's key went nowhere when pressed, so its release stays here too.
        if (m_chordScanCode != 0 && ke->nativeScanCode() == m_chordScanCode && !ke->isAutoRepeat()) {
            m_chordScanCode = 0;
            return true;
        }
        return false;
    }
    if ((ke->modifiers() & CHORD_MODIFIERS) != CHORD_MODIFIERS)
        return false;
    if (ke->key() == Qt::Key_F12) {
        m_chordScanCode = ke->nativeScanCode();
        if (!ke->isAutoRepeat())
            releaseGrabAndFullScreen();
        return true;
    }
    if (ke->key() == Qt::Key_V) {
        m_chordScanCode = ke->nativeScanCode();
        if (!ke->isAutoRepeat())
            onPasteText();
        return true;
    }
    if (ke->key() == Qt::Key_S) {
        m_chordScanCode = ke->nativeScanCode();
        if (!ke->isAutoRepeat())
            setStatsShown(!ui.actionStats->isChecked());
        return true;
    }
    return false;
}

void H264Video::setupKeyboardInput()
{
    const QString chord = tr("Ctrl+Alt+Shift+F12 lets the keyboard go and leaves full screen");
    m_grabKeyboardAction = new QAction(keyboardIcon(), tr("Grab Keyboard"), this);
    m_grabKeyboardAction->setObjectName(QStringLiteral("actionGrabKeyboard"));
    m_grabKeyboardAction->setCheckable(true);
    m_grabKeyboardAction->setToolTip(tr("Grab Keyboard: Alt+Tab, Alt+F4 and the Super key go to the remote computer "
                                        "(always in full screen). %1.")
                                         .arg(chord));
    m_grabKeyboardAction->setProperty("baseToolTip", m_grabKeyboardAction->toolTip());
    ui.toolBar->addAction(m_grabKeyboardAction);
    connect(m_grabKeyboardAction, &QAction::toggled, this, [this] { updateKeyboardGrab(); });
}

void H264Video::saveInputSettings()
{
    c_config_file config(kvm_paths::settings_file(QStringLiteral("config.xml")));
    c_input_settings settings;
    settings.keysByPosition = m_keysByPosition;
    settings.remoteLayout = m_remoteLayout;
    if (!config.saveInput(settings, mouseRate)) {
        LOG_WARN("keyboard settings not saved: %s does not load", config.path().toLocal8Bit().constData());
        showNotice(tr("Keyboard settings not saved: %1 cannot be read.").arg(config.path()));
    }
}

void H264Video::updateKeyboardGrab()
{
    const bool want = (isFullScreen() || (m_grabKeyboardAction && m_grabKeyboardAction->isChecked())) &&
                      !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
    if (want != m_keyboardGrabbed) {
        m_keyboardGrabbed = want;
        LOG_INFO(want ? "keyboard grab wanted" : "keyboard released");
    }
    // Whether the desktop grants it, and for the active window only, is the
    // desktop input's to find out and tell (showKeyboardGrabState).
    if (m_desktop)
        m_desktop->set_keyboard_grab(want, isActiveWindow());
}

void H264Video::lockPointerForRelativeMode()
{
    if (relativeMode() && m_desktop && m_desktop->can_lock_pointer() && isActiveWindow() &&
        m_writePrivilege.load() == 1)
        m_desktop->set_pointer_locked(true);
}

void H264Video::releaseGrabAndFullScreen()
{
    LOG_INFO("local chord: keyboard released, full screen left");
    if (m_grabKeyboardAction)
        m_grabKeyboardAction->setChecked(false);
    if (m_desktop)
        m_desktop->set_pointer_locked(false);
    if (m_isFullScreen)
        on_full_screen();
    else if (isFullScreen())
        setWindowState(windowState() & ~Qt::WindowFullScreen);
    updateKeyboardGrab();
}

void H264Video::sendKeyboardReport(const char* prefix, const unsigned char* report)
{
    // Below the default level: what the user types (passwords too) must not
    // land in the log files by default.
    LOG_DEBUG("%s,keyBuf=%s", prefix, km_report_text(report, KM_KEYBOARD_LEN).c_str());
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
        sendAbsoluteMouse(0, true);
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
    if (m_sampleTimer > 0)
        killTimer(m_sampleTimer);
    m_sampleTimer = 0;
}

void H264Video::resumeSampling()
{
    // Sampling was resting for want of moves: the next tick comes one
    // interval from now, as it would have from a running timer.
    if (m_sampleTimer == SAMPLE_RESTING)
        m_sampleTimer = startTimer(mouse_sample_interval_ms(), Qt::PreciseTimer);
}

void H264Video::onSampleTimer()
{
    if (!m_mouseMoved && !m_restartSampleTimer) {
        // Nothing moved since the last tick: the timer rests until a move, so
        // an idle session does not wake fifty times a second.
        killTimer(m_sampleTimer);
        m_sampleTimer = SAMPLE_RESTING;
        return;
    }
    if (m_mouseMoved) {
        m_mouseMoved = 0;
        if (!relativeMode()) {
            // With a button held the pointer drags on along the picture's edge.
            sendAbsoluteMouse(0, m_absButtons != KM_ABS_NONE);
        } else if (m_desktop && m_desktop->pointer_locked()) {
            // The pointer stays put: the remote one follows the motion itself.
            sendRelativeMouse(m_lastLocalPos + m_desktop->take_motion());
        } else {
            const QPoint pos = ui.label->mapFromGlobal(QCursor::pos());
            LOG_DEBUG("isMouseMove pos:%d,%d origin_pos:%d,%d", pos.x(), pos.y(), m_videoOrigin.x(), m_videoOrigin.y());
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
    c_ui_video_setting_dlg::showAndSave(this, &m_video->send_queue(), config);
    m_restartSampleTimer = 1;
}

// ------------------------------------------------------------ lock LEDs

void H264Video::setupLedSync()
{
    // XKB only where the window lives on an X server of its own: XWayland's
    // lock state is not the keyboard's (it would stay on in every X program).
    // Elsewhere only the companion, and the device's state is shown instead.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb") && !m_desktop->xwayland();
    if (x11) {
        // The same server Qt uses; the LED sync keeps a connection of its own,
        // as it works on the video receive thread.
        m_ledSync.set_x11_display(qgetenv("DISPLAY"));
    }
    m_ledSync.set_hold_until(m_ledHoldUntil.isValid() ? m_ledHoldUntil.toMSecsSinceEpoch()
                                                      : QDateTime::currentMSecsSinceEpoch());
    if (!x11 && m_ledSync.companion_path().isEmpty()) {
        m_lockIndicator = new QLabel(ui.toolBar);
        m_lockIndicator->setObjectName(QStringLiteral("lockIndicator"));
        m_lockIndicator->setToolTip(tr("Lock keys of the remote computer"));
        m_lockIndicator->setAlignment(Qt::AlignCenter);
        ui.toolBar->addWidget(m_lockIndicator);
        showLockState(0);
    }
}

void H264Video::applyLedState(uint8_t bits)
{
    m_ledSync.apply(bits);
    if (m_lockIndicator)
        QMetaObject::invokeMethod(this, [this, bits] { showLockState(bits); }, Qt::QueuedConnection);
}
