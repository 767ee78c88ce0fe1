#pragma once
// The desktop side of input capture for one window, whatever the platform:
// the keyboard grab and its real state, the pointer lock of relative mouse
// mode, and whether key codes are keyboard positions. On X11 the grab is
// Qt's; through XWayland the compositor is told first that the window may
// grab; on Wayland the compositor's shortcuts are inhibited for the window.
// GUI thread only.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <memory>

class QWidget;
class c_wayland_input;

class c_desktop_input : public QObject
{
    Q_OBJECT

public:
    enum grab_state
    {
        GRAB_OFF,         // not wanted
        GRAB_PENDING,     // asked for; the desktop has not answered (it may be asking the user)
        GRAB_ACTIVE,      // every key reaches the window
        GRAB_REFUSED,     // the desktop refused it or took it back
        GRAB_UNSUPPORTED  // the desktop has no way to grant it: its shortcuts stay its own
    };

    // grabber: the widget that gets the keys while grabbed; its window must
    // exist (shown) before attach().
    explicit c_desktop_input(QWidget* grabber);
    ~c_desktop_input() override;

    // Binds the platform's objects for the grabber's window (call once it is shown).
    void attach();

    // The grab is held while wanted and the window is active.
    void set_keyboard_grab(bool wanted, bool active);
    grab_state keyboard_grab() const { return m_grab; }
    static QString grab_text(grab_state s);

    // The X server is XWayland: its lock state and pointer are not the
    // desktop's own.
    bool xwayland() const { return m_xwayland; }
    // Relative mouse mode can follow the real pointer: a pointer lock on
    // Wayland, or a plain X server (pointer warps). False through XWayland
    // and on compositors without pointer constraints.
    bool relative_mode_exact() const;

    // Pointer lock for relative mode (Wayland with pointer constraints only).
    bool can_lock_pointer() const;
    void set_pointer_locked(bool on);
    bool pointer_locked() const;
    // The whole pixels moved while locked since the last call; fractions stay.
    QPoint take_motion();

    // Whether a key event's native scan code is a keyboard position.
    bool keys_by_position() const;

signals:
    void keyboard_grab_changed(int state);
    void pointer_lock_changed(bool locked);
    // Motion arrived while locked (take_motion() has it).
    void pointer_moved();

private:
    void set_grab(grab_state s);

    QPointer<QWidget> m_grabber;
    std::unique_ptr<c_wayland_input> m_wayland;
    grab_state m_grab = GRAB_OFF;
    bool m_qtGrab = false;
    bool m_xcb = false;
    bool m_xwayland = false;
    double m_motionX = 0.0;
    double m_motionY = 0.0;
};
