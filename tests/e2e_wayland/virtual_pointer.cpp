#include "virtual_pointer.h"

#include <QFile>
#include <cstring>
#include <wayland-client.h>

#include "virtual-pointer-unstable-v1-client-protocol.h"

namespace {

struct globals
{
    wl_seat* seat = nullptr;
    zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void on_global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* g = static_cast<globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !g->seat)
        g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        g->manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}

void on_global_remove(void*, wl_registry*, uint32_t) {}

const uint32_t BTN_LEFT_CODE = 0x110;

}  // namespace

virtual_pointer::virtual_pointer(const QString& waylandDisplay)
{
    m_display = wl_display_connect(QFile::encodeName(waylandDisplay).constData());
    if (!m_display)
        return;
    globals g;
    wl_registry* registry = wl_display_get_registry(m_display);
    static const wl_registry_listener listener = {on_global, on_global_remove};
    wl_registry_add_listener(registry, &listener, &g);
    wl_display_roundtrip(m_display);
    wl_registry_destroy(registry);
    m_seat = g.seat;
    m_manager = g.manager;
    if (m_manager)
        m_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(m_manager, m_seat);
    flush();
}

virtual_pointer::~virtual_pointer()
{
    if (m_pointer)
        zwlr_virtual_pointer_v1_destroy(m_pointer);
    if (m_manager)
        zwlr_virtual_pointer_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_display) {
        wl_display_roundtrip(m_display);
        wl_display_disconnect(m_display);
    }
}

bool virtual_pointer::flush()
{
    return m_display && wl_display_roundtrip(m_display) >= 0;
}

bool virtual_pointer::move_by(double dx, double dy)
{
    if (!m_pointer)
        return false;
    zwlr_virtual_pointer_v1_motion(m_pointer, m_time++, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    zwlr_virtual_pointer_v1_frame(m_pointer);
    return flush();
}

bool virtual_pointer::move_to(int x, int y, int width, int height)
{
    if (!m_pointer)
        return false;
    zwlr_virtual_pointer_v1_motion_absolute(m_pointer, m_time++, uint32_t(x), uint32_t(y), uint32_t(width),
                                            uint32_t(height));
    zwlr_virtual_pointer_v1_frame(m_pointer);
    return flush();
}

bool virtual_pointer::click()
{
    if (!m_pointer)
        return false;
    zwlr_virtual_pointer_v1_button(m_pointer, m_time++, BTN_LEFT_CODE, WL_POINTER_BUTTON_STATE_PRESSED);
    zwlr_virtual_pointer_v1_frame(m_pointer);
    zwlr_virtual_pointer_v1_button(m_pointer, m_time++, BTN_LEFT_CODE, WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(m_pointer);
    return flush();
}
