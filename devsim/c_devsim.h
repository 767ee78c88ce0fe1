#pragma once
// The test device: the three channels on 127.0.0.1, the remote computer's
// state they share (keyboard, pointer, locks, privilege, picture position),
// the events file and the control port. Tests run it in-process; main.cpp
// wraps it as the devsim program.
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "c_devsim_events.h"
#include "c_devsim_keyboard.h"
#include "c_devsim_options.h"
#include "c_devsim_screen.h"

class c_devsim_video;
class c_devsim_km;
class c_devsim_media;
class c_devsim_control;

class c_devsim
{
public:
    explicit c_devsim(const c_devsim_options& options);
    ~c_devsim();

    c_devsim(const c_devsim&) = delete;
    c_devsim& operator=(const c_devsim&) = delete;

    // Opens the events file and the picture source, listens on every port and
    // starts the threads. False with a reason in *error when something fails
    // (a port taken, an X display that does not open).
    bool start(QString* error);
    // Ends every thread and connection; safe to call twice.
    void stop();

    // The viewer's launch string with the real ports (valid after start()).
    QString launch_string() const;
    uint16_t port_video() const;
    uint16_t port_km() const;
    uint16_t port_media() const;
    uint16_t port_control() const;  // 0 without a control port

    // Runs one command line ("privilege 0", "read 0 128", ...) and returns the
    // reply ("ok ...", or "error ..."). Any thread.
    QString command(const QString& line);

    // Set by the "quit" command (or by the program's signal handling).
    void request_quit();
    bool quit_requested() const { return m_quit.load(); }
    // Waits until quit is requested; false on time-out (ms < 0: no limit).
    bool wait_quit(int ms = -1);

    const c_devsim_options& options() const { return m_opt; }
    c_devsim_events& events() { return m_events; }
    c_devsim_video& video() { return *m_video; }
    c_devsim_km& km() { return *m_km; }
    c_devsim_media& media() { return *m_media; }

    // Diagnostics on standard error ("devsim: ...").
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // --- The remote computer, shared by the channels (any thread) ---
    // Applies a keyboard report; sends the LED state when a lock changed.
    c_devsim_keyboard::result keyboard_report(const uint8_t report[8]);
    void keyboard_reset();
    // Relative movement in picture pixels.
    void pointer_relative(int buttons, int dx, int dy, int wheel);
    // Absolute position on the 1920 x 1200 grid; buttons 0 none, 1 left, 2 right.
    void pointer_absolute(int buttons, int gx, int gy, int wheel);
    // LED bits (bit 0 Num, 1 Caps, 2 Scroll); sent when changed or force.
    void set_leds(uint8_t bits, bool force = false);
    uint8_t leds() const;
    // Picture position: direction 1 up, 2 down, 3 left, 4 right; 0 resets.
    void move_picture(int direction);
    QPoint picture_offset() const;
    QPoint pointer() const;
    int buttons() const;
    QString typed() const;
    // Privilege as the device grants it (1 write, 0 read).
    int privilege() const { return m_privilege.load(); }
    void set_privilege(int v) { m_privilege = v; }

    // The picture source and what it should show now.
    c_devsim_screen& screen() { return *m_screen; }
    devsim_view view(uint64_t frame) const;

private:
    c_devsim_options m_opt;
    c_devsim_events m_events;
    std::unique_ptr<c_devsim_screen> m_screen;
    std::unique_ptr<c_devsim_video> m_video;
    std::unique_ptr<c_devsim_km> m_km;
    std::unique_ptr<c_devsim_media> m_media;
    std::unique_ptr<c_devsim_control> m_control;
    bool m_started = false;

    mutable std::mutex m_stateLock;
    c_devsim_keyboard m_keyboard;
    QPoint m_pointer;
    int m_buttons = 0;
    int m_wheel = 0;
    std::vector<QPoint> m_clicks;
    QString m_lastKeys;
    QPoint m_offset;
    std::atomic<int> m_privilege{1};

    std::mutex m_quitLock;
    std::condition_variable m_quitCond;
    std::atomic<bool> m_quit{false};
    std::mutex m_logLock;
};
