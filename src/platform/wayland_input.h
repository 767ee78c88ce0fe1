#pragma once
// A window's input through Wayland protocols that Qt 6.4 does not use: the
// keyboard-shortcuts inhibitor (the compositor leaves Alt+Tab, Super and its
// other shortcuts to the window), a pointer lock with relative motion (the
// pointer stays in the window and the window gets unaccelerated deltas), and
// the seat's keymap (keys of virtual keyboards come with a keymap of their
// own, whose key codes are no keyboard positions).
//
// The objects are bound on Qt's own Wayland connection and its default event
// queue, so their events arrive on the GUI thread, between Qt's own.
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <memory>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_pointer;
struct wl_keyboard;
struct wl_surface;
struct zwp_keyboard_shortcuts_inhibit_manager_v1;
struct zwp_keyboard_shortcuts_inhibitor_v1;
struct zwp_pointer_constraints_v1;
struct zwp_locked_pointer_v1;
struct zwp_relative_pointer_manager_v1;
struct zwp_relative_pointer_v1;

class c_wayland_input : public QObject
{
    Q_OBJECT

public:
    enum inhibit_state
    {
        INHIBIT_OFF,      // none asked for
        INHIBIT_PENDING,  // asked; the compositor has not answered (it may be asking the user)
        INHIBIT_ACTIVE,   // the compositor's shortcuts are off for this window
        INHIBIT_REFUSED   // refused, or withdrawn by the compositor
    };

    // Null unless Qt runs on Wayland (the "wayland" platform plug-in).
    static std::unique_ptr<c_wayland_input> create(QWindow* window);
    ~c_wayland_input() override;

    bool can_inhibit_shortcuts() const { return m_inhibitManager != nullptr; }
    bool can_lock_pointer() const { return m_constraints && m_relativeManager && m_pointer; }

    // Asks for (or drops) the inhibitor on the window's surface.
    void set_shortcuts_inhibited(bool on);
    inhibit_state inhibit() const { return m_inhibitState; }

    // Asks for (or drops) a pointer lock on the window's surface. The lock
    // takes effect when the compositor says so (pointer_lock_changed), and
    // ends when the compositor ends it (focus loss) or on request.
    void set_pointer_locked(bool on);
    bool pointer_lock_wanted() const { return m_lockedPointer != nullptr; }
    bool pointer_locked() const { return m_locked; }

    // False when the keyboard's current keymap does not name its keys by
    // keyboard position (evdev codes), e.g. a virtual keyboard's own map.
    bool keymap_by_position() const { return m_keymapByPosition; }

signals:
    void inhibit_changed(int state);
    void pointer_lock_changed(bool locked);
    // Unaccelerated motion while the pointer is locked, in surface pixels.
    void relative_motion(double dx, double dy);

private:
    explicit c_wayland_input(QWindow* window, wl_display* display);
    bool bind();
    wl_surface* surface() const;
    void set_inhibit_state(inhibit_state s);
    void drop_lock();

    // Protocol callbacks.
    static void on_global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void on_global_remove(void* data, wl_registry* registry, uint32_t name);
    static void on_capabilities(void* data, wl_seat* seat, uint32_t caps);
    static void on_seat_name(void* data, wl_seat* seat, const char* name);
    static void on_keymap(void* data, wl_keyboard* kb, uint32_t format, int32_t fd, uint32_t size);
    static void on_inhibitor_active(void* data, zwp_keyboard_shortcuts_inhibitor_v1* inhibitor);
    static void on_inhibitor_inactive(void* data, zwp_keyboard_shortcuts_inhibitor_v1* inhibitor);
    static void on_locked(void* data, zwp_locked_pointer_v1* lock);
    static void on_unlocked(void* data, zwp_locked_pointer_v1* lock);
    static void on_relative_motion(void* data, zwp_relative_pointer_v1* rel, uint32_t hi, uint32_t lo, int32_t dx,
                                   int32_t dy, int32_t dxUnaccel, int32_t dyUnaccel);

    QPointer<QWindow> m_window;
    wl_display* m_display = nullptr;
    wl_seat* m_seat = nullptr;
    wl_pointer* m_pointer = nullptr;
    wl_keyboard* m_keyboard = nullptr;
    zwp_keyboard_shortcuts_inhibit_manager_v1* m_inhibitManager = nullptr;
    zwp_keyboard_shortcuts_inhibitor_v1* m_inhibitor = nullptr;
    zwp_pointer_constraints_v1* m_constraints = nullptr;
    zwp_locked_pointer_v1* m_lockedPointer = nullptr;
    zwp_relative_pointer_manager_v1* m_relativeManager = nullptr;
    zwp_relative_pointer_v1* m_relativePointer = nullptr;
    inhibit_state m_inhibitState = INHIBIT_OFF;
    bool m_locked = false;
    bool m_keymapByPosition = true;
};
