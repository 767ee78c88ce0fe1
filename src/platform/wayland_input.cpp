#include "platform/wayland_input.h"

#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <wayland-client.h>

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "log/log.h"
#include "pointer-constraints-unstable-v1-client-protocol.h"
#include "relative-pointer-unstable-v1-client-protocol.h"

namespace {

// Key codes of a real keyboard's keymap are evdev codes + 8, and the keymap
// names them after their place on the keyboard. A virtual keyboard's keymap
// numbers its keys as it likes (and usually names them after the numbers).
bool keymap_names_positions(xkb_keymap* keymap)
{
    static const struct
    {
        xkb_keycode_t code;
        const char* name;
    } samples[] = {{9, "ESC"}, {10, "AE01"}, {23, "TAB"}, {24, "AD01"}, {36, "RTRN"},
                   {38, "AC01"}, {52, "AB01"}, {65, "SPCE"}};
    int matched = 0;
    for (const auto& s : samples) {
        const char* name = xkb_keymap_key_get_name(keymap, s.code);
        if (name && std::strcmp(name, s.name) == 0)
            ++matched;
    }
    return matched >= 6;
}

template <typename... A>
void ignore(void*, A...)
{
}

const wl_keyboard_listener& keyboard_listener(void (*keymap)(void*, wl_keyboard*, uint32_t, int32_t, uint32_t))
{
    static const wl_keyboard_listener l = [keymap] {
        wl_keyboard_listener k{};
        k.keymap = keymap;
        k.enter = ignore<wl_keyboard*, uint32_t, wl_surface*, wl_array*>;
        k.leave = ignore<wl_keyboard*, uint32_t, wl_surface*>;
        k.key = ignore<wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t>;
        k.modifiers = ignore<wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;
        k.repeat_info = ignore<wl_keyboard*, int32_t, int32_t>;
        return k;
    }();
    return l;
}

}  // namespace

std::unique_ptr<c_wayland_input> c_wayland_input::create(QWindow* window)
{
    if (!window || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
    if (!display)
        return nullptr;
    std::unique_ptr<c_wayland_input> input(new c_wayland_input(window, display));
    if (!input->bind())
        return nullptr;
    return input;
}

c_wayland_input::c_wayland_input(QWindow* window, wl_display* display) : m_window(window), m_display(display) {}

c_wayland_input::~c_wayland_input()
{
    if (m_inhibitor)
        zwp_keyboard_shortcuts_inhibitor_v1_destroy(m_inhibitor);
    if (m_lockedPointer)
        zwp_locked_pointer_v1_destroy(m_lockedPointer);
    if (m_relativePointer)
        zwp_relative_pointer_v1_destroy(m_relativePointer);
    if (m_relativeManager)
        zwp_relative_pointer_manager_v1_destroy(m_relativeManager);
    if (m_constraints)
        zwp_pointer_constraints_v1_destroy(m_constraints);
    if (m_inhibitManager)
        zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(m_inhibitManager);
    // Release requests exist from seat version 3 (pointer, keyboard) and 5 (seat).
    const uint32_t v = m_seat ? wl_seat_get_version(m_seat) : 0;
    if (m_keyboard)
        v >= 3 ? wl_keyboard_release(m_keyboard) : wl_keyboard_destroy(m_keyboard);
    if (m_pointer)
        v >= 3 ? wl_pointer_release(m_pointer) : wl_pointer_destroy(m_pointer);
    if (m_seat)
        v >= 5 ? wl_seat_release(m_seat) : wl_seat_destroy(m_seat);
    wl_display_flush(m_display);
}

bool c_wayland_input::bind()
{
    // The globals are listed on a queue of our own, so that waiting for them
    // runs none of Qt's event handlers; the objects then move to the default
    // queue, which Qt dispatches on the GUI thread.
    wl_event_queue* queue = wl_display_create_queue(m_display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    static const wl_registry_listener registryListener = {on_global, on_global_remove};
    wl_registry_add_listener(registry, &registryListener, this);
    // Globals, then the seat's capabilities (pointer and keyboard made),
    // then the keyboard's keymap.
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i)
        ok = wl_display_roundtrip_queue(m_display, queue) >= 0;
    for (wl_proxy* p : {reinterpret_cast<wl_proxy*>(m_seat), reinterpret_cast<wl_proxy*>(m_pointer),
                        reinterpret_cast<wl_proxy*>(m_keyboard), reinterpret_cast<wl_proxy*>(m_inhibitManager),
                        reinterpret_cast<wl_proxy*>(m_constraints), reinterpret_cast<wl_proxy*>(m_relativeManager),
                        reinterpret_cast<wl_proxy*>(m_relativePointer)})
        if (p)
            wl_proxy_set_queue(p, nullptr);
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(wrapper);
    wl_event_queue_destroy(queue);
    LOG_INFO("wayland input: seat %d, shortcuts inhibitor %d, pointer constraints %d, relative pointer %d",
             m_seat ? 1 : 0, m_inhibitManager ? 1 : 0, m_constraints ? 1 : 0, m_relativeManager ? 1 : 0);
    return ok && m_seat;
}

void c_wayland_input::on_global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                uint32_t version)
{
    auto* self = static_cast<c_wayland_input*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
        // The first seat is the one Qt takes as its default input device.
        // Version 5 at most: its pointer events are the ones this code knows.
        self->m_seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 5)));
        static const wl_seat_listener seatListener = {on_capabilities, on_seat_name};
        wl_seat_add_listener(self->m_seat, &seatListener, self);
    } else if (std::strcmp(interface, zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name) == 0) {
        self->m_inhibitManager = static_cast<zwp_keyboard_shortcuts_inhibit_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_pointer_constraints_v1_interface.name) == 0) {
        self->m_constraints = static_cast<zwp_pointer_constraints_v1*>(
            wl_registry_bind(registry, name, &zwp_pointer_constraints_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_relative_pointer_manager_v1_interface.name) == 0) {
        self->m_relativeManager = static_cast<zwp_relative_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_relative_pointer_manager_v1_interface, 1));
    }
}

void c_wayland_input::on_global_remove(void*, wl_registry*, uint32_t) {}

void c_wayland_input::on_capabilities(void* data, wl_seat* seat, uint32_t caps)
{
    auto* self = static_cast<c_wayland_input*>(data);
    // A pointer and a keyboard of our own beside Qt's: the pointer carries the
    // lock and the relative motion, the keyboard tells of keymap changes.
    // Neither takes events away from Qt's.
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !self->m_pointer) {
        self->m_pointer = wl_seat_get_pointer(seat);
        if (self->m_relativeManager) {
            self->m_relativePointer =
                zwp_relative_pointer_manager_v1_get_relative_pointer(self->m_relativeManager, self->m_pointer);
            static const zwp_relative_pointer_v1_listener relListener = {on_relative_motion};
            zwp_relative_pointer_v1_add_listener(self->m_relativePointer, &relListener, self);
        }
    }
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !self->m_keyboard) {
        self->m_keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(self->m_keyboard, &keyboard_listener(on_keymap), self);
    }
}

void c_wayland_input::on_seat_name(void*, wl_seat*, const char*) {}

void c_wayland_input::on_keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size)
{
    auto* self = static_cast<c_wayland_input*>(data);
    bool byPosition = true;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
            // The map is text ending in a NUL within size.
            const char* text = static_cast<const char*>(map);
            xkb_keymap* keymap = ctx ? xkb_keymap_new_from_buffer(ctx, text, strnlen(text, size),
                                                                  XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)
                                     : nullptr;
            if (keymap) {
                byPosition = keymap_names_positions(keymap);
                xkb_keymap_unref(keymap);
            }
            if (ctx)
                xkb_context_unref(ctx);
            munmap(map, size);
        }
    }
    close(fd);
    if (byPosition != self->m_keymapByPosition)
        LOG_INFO("keyboard keymap %s", byPosition ? "by position" : "of its own: keys go by character");
    self->m_keymapByPosition = byPosition;
}

wl_surface* c_wayland_input::surface() const
{
    // Qt makes the surface when the window is shown, and again after a hide.
    if (!m_window || !m_window->handle())
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", m_window));
}

void c_wayland_input::set_inhibit_state(inhibit_state s)
{
    if (s == m_inhibitState)
        return;
    m_inhibitState = s;
    emit inhibit_changed(int(s));
}

void c_wayland_input::set_shortcuts_inhibited(bool on)
{
    if (!on) {
        if (m_inhibitor) {
            zwp_keyboard_shortcuts_inhibitor_v1_destroy(m_inhibitor);
            m_inhibitor = nullptr;
            wl_display_flush(m_display);
        }
        set_inhibit_state(INHIBIT_OFF);
        return;
    }
    if (m_inhibitor || !m_inhibitManager || !m_seat)
        return;
    wl_surface* s = surface();
    if (!s)
        return;
    m_inhibitor = zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(m_inhibitManager, s, m_seat);
    static const zwp_keyboard_shortcuts_inhibitor_v1_listener inhibitListener = {on_inhibitor_active,
                                                                                 on_inhibitor_inactive};
    zwp_keyboard_shortcuts_inhibitor_v1_add_listener(m_inhibitor, &inhibitListener, this);
    wl_display_flush(m_display);
    set_inhibit_state(INHIBIT_PENDING);
}

void c_wayland_input::on_inhibitor_active(void* data, zwp_keyboard_shortcuts_inhibitor_v1*)
{
    static_cast<c_wayland_input*>(data)->set_inhibit_state(INHIBIT_ACTIVE);
}

void c_wayland_input::on_inhibitor_inactive(void* data, zwp_keyboard_shortcuts_inhibitor_v1*)
{
    // The compositor said no, or took its yes back (the user pressed its
    // escape shortcut): until asked again the shortcuts are the desktop's.
    static_cast<c_wayland_input*>(data)->set_inhibit_state(INHIBIT_REFUSED);
}

void c_wayland_input::set_pointer_locked(bool on)
{
    if (!on) {
        drop_lock();
        return;
    }
    if (m_lockedPointer || !can_lock_pointer())
        return;
    wl_surface* s = surface();
    if (!s)
        return;
    m_lockedPointer = zwp_pointer_constraints_v1_lock_pointer(m_constraints, s, m_pointer, nullptr,
                                                              ZWP_POINTER_CONSTRAINTS_V1_LIFETIME_ONESHOT);
    static const zwp_locked_pointer_v1_listener lockListener = {on_locked, on_unlocked};
    zwp_locked_pointer_v1_add_listener(m_lockedPointer, &lockListener, this);
    wl_display_flush(m_display);
}

void c_wayland_input::drop_lock()
{
    if (m_lockedPointer) {
        zwp_locked_pointer_v1_destroy(m_lockedPointer);
        m_lockedPointer = nullptr;
        wl_display_flush(m_display);
    }
    if (m_locked) {
        m_locked = false;
        emit pointer_lock_changed(false);
    }
}

void c_wayland_input::on_locked(void* data, zwp_locked_pointer_v1*)
{
    auto* self = static_cast<c_wayland_input*>(data);
    if (!self->m_locked) {
        self->m_locked = true;
        emit self->pointer_lock_changed(true);
    }
}

void c_wayland_input::on_unlocked(void* data, zwp_locked_pointer_v1*)
{
    // A one-shot lock is over for good once unlocked.
    static_cast<c_wayland_input*>(data)->drop_lock();
}

void c_wayland_input::on_relative_motion(void* data, zwp_relative_pointer_v1*, uint32_t, uint32_t, int32_t,
                                         int32_t, int32_t dxUnaccel, int32_t dyUnaccel)
{
    auto* self = static_cast<c_wayland_input*>(data);
    if (self->m_locked)
        emit self->relative_motion(wl_fixed_to_double(dxUnaccel), wl_fixed_to_double(dyUnaccel));
}
