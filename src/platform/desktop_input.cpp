#include "platform/desktop_input.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

#include "log/log.h"
#include "platform/wayland_input.h"
#include "platform/xwayland.h"

c_desktop_input::c_desktop_input(QWidget* grabber) : m_grabber(grabber)
{
    m_xcb = QGuiApplication::platformName() == QLatin1String("xcb");
    if (m_xcb) {
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
            m_xwayland = xwayland::is_xwayland(x11->display());
        // XWayland before 23.1 has no extension of its name, but names its
        // RandR outputs after itself (Qt's screen names on X11).
        for (const QScreen* screen : QGuiApplication::screens())
            m_xwayland = m_xwayland || screen->name().startsWith(QLatin1String("XWAYLAND"));
        if (m_xwayland)
            LOG_INFO("X server is XWayland: grabs announced, lock state left alone");
    }
}

c_desktop_input::~c_desktop_input() = default;

void c_desktop_input::attach()
{
    QWindow* window = m_grabber ? m_grabber->window()->windowHandle() : nullptr;
    if (!window)
        return;
    if (m_xcb || m_wayland)
        return;
    m_wayland = c_wayland_input::create(window);
    if (!m_wayland)
        return;
    connect(m_wayland.get(), &c_wayland_input::inhibit_changed, this, [this](int s) {
        if (!m_qtGrab)
            return;
        switch (c_wayland_input::inhibit_state(s)) {
        case c_wayland_input::INHIBIT_ACTIVE:
            set_grab(GRAB_ACTIVE);
            break;
        case c_wayland_input::INHIBIT_REFUSED:
            set_grab(GRAB_REFUSED);
            break;
        case c_wayland_input::INHIBIT_PENDING:
            set_grab(GRAB_PENDING);
            break;
        case c_wayland_input::INHIBIT_OFF:
            break;
        }
    });
    connect(m_wayland.get(), &c_wayland_input::pointer_lock_changed, this, [this](bool locked) {
        LOG_INFO("pointer %s", locked ? "locked" : "unlocked");
        m_motionX = m_motionY = 0.0;
        emit pointer_lock_changed(locked);
    });
    connect(m_wayland.get(), &c_wayland_input::relative_motion, this, [this](double dx, double dy) {
        m_motionX += dx;
        m_motionY += dy;
        emit pointer_moved();
    });
}

QString c_desktop_input::grab_text(grab_state s)
{
    switch (s) {
    case GRAB_OFF:
        return tr("Keyboard released: the desktop's shortcuts are its own");
    case GRAB_PENDING:
        return tr("Keyboard grab asked for: waiting for the desktop to allow it");
    case GRAB_ACTIVE:
        return tr("Keyboard grabbed: every key goes to the remote computer");
    case GRAB_REFUSED:
        return tr("Keyboard grab refused by the desktop: its shortcuts stay local");
    case GRAB_UNSUPPORTED:
        return tr("This desktop cannot hand its shortcuts to the window: they stay local");
    }
    return QString();
}

void c_desktop_input::set_grab(grab_state s)
{
    if (s == m_grab)
        return;
    m_grab = s;
    LOG_INFO("keyboard grab: %s", grab_text(s).toUtf8().constData());
    emit keyboard_grab_changed(int(s));
}

void c_desktop_input::set_keyboard_grab(bool wanted, bool active)
{
    if (!m_grabber)
        return;
    // Qt's grab routes the keys to the grabber inside the program (and on X11
    // is the server grab); it is kept while wanted, as it always was.
    if (wanted != m_qtGrab) {
        m_qtGrab = wanted;
        if (wanted) {
            if (m_xwayland)
                xwayland::allow_keyboard_grab(
                    qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display(),
                    m_grabber->window()->winId());
            m_grabber->grabKeyboard();
        } else {
            m_grabber->releaseKeyboard();
        }
    }
    if (!wanted) {
        if (m_wayland)
            m_wayland->set_shortcuts_inhibited(false);
        set_grab(GRAB_OFF);
        return;
    }
    if (m_wayland) {
        if (!m_wayland->can_inhibit_shortcuts()) {
            set_grab(GRAB_UNSUPPORTED);
            return;
        }
        // The inhibitor is for the active window only; a new one is asked for
        // on each activation (the compositor may ask the user the first time).
        m_wayland->set_shortcuts_inhibited(active);
        if (!active)
            set_grab(GRAB_OFF);  // another window has the keyboard: the shortcuts are the desktop's
        return;
    }
    if (m_xcb) {
        QWindow* window = m_grabber->window()->windowHandle();
        // Asking again answers whether the server granted the grab.
        const bool granted = window && window->setKeyboardGrabEnabled(true);
        set_grab(granted ? GRAB_ACTIVE : (active ? GRAB_REFUSED : GRAB_PENDING));
        return;
    }
    set_grab(GRAB_UNSUPPORTED);
}

bool c_desktop_input::relative_mode_exact() const
{
    if (m_wayland)
        return m_wayland->can_lock_pointer();
    return m_xcb && !m_xwayland;
}

bool c_desktop_input::can_lock_pointer() const
{
    return m_wayland && m_wayland->can_lock_pointer();
}

void c_desktop_input::set_pointer_locked(bool on)
{
    if (m_wayland)
        m_wayland->set_pointer_locked(on);
}

bool c_desktop_input::pointer_locked() const
{
    return m_wayland && m_wayland->pointer_locked();
}

QPoint c_desktop_input::take_motion()
{
    const double x = std::trunc(m_motionX);
    const double y = std::trunc(m_motionY);
    m_motionX -= x;
    m_motionY -= y;
    return QPoint(int(x), int(y));
}

bool c_desktop_input::keys_by_position() const
{
    return !m_wayland || m_wayland->keymap_by_position();
}
