#pragma once
// A pointer of the test's own in a wlroots compositor (sway): relative
// motion, absolute placement and clicks, as a physical mouse would send them.
#include <QString>
#include <cstdint>

struct wl_display;
struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

class virtual_pointer
{
public:
    // Connects to the compositor at the socket path waylandDisplay.
    explicit virtual_pointer(const QString& waylandDisplay);
    ~virtual_pointer();
    virtual_pointer(const virtual_pointer&) = delete;
    virtual_pointer& operator=(const virtual_pointer&) = delete;

    bool ok() const { return m_pointer != nullptr; }
    // Relative motion by (dx, dy) pixels, unaccelerated.
    bool move_by(double dx, double dy);
    // Places the pointer at (x, y) of an output of width x height.
    bool move_to(int x, int y, int width, int height);
    // Press and release of the left button.
    bool click();

private:
    bool flush();

    wl_display* m_display = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_virtual_pointer_manager_v1* m_manager = nullptr;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    uint32_t m_time = 1;
};
