#pragma once
// Makes the local keyboard's lock LEDs follow the remote keyboard's. The
// device's LED byte carries Num Lock in bit 0, Caps Lock in bit 1 and Scroll
// Lock in bit 2 (LED indexes 1, 2, 3). When the companion "kbl.exe" sits in
// the working directory it is started for each LED whose state changed, one
// instance at a time and at most 10 times a second (a device repeating its
// report cannot start a storm of processes); otherwise, given an X
// display, the lock state of that display is set through XKB; otherwise
// nothing happens. Right after a local lock key the device's reports are
// ignored for a while, so the user's own toggle is not undone by a report
// that was already on its way.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class c_led_sync
{
public:
    enum { LED_NUM = 1, LED_CAPS = 2, LED_SCROLL = 3 };

    // workingDir: where "kbl.exe" is looked for and started; empty means the
    // process's current directory at the time of each report. The hold starts
    // at construction time.
    explicit c_led_sync(const QString& workingDir = QString());
    ~c_led_sync();

    c_led_sync(const c_led_sync&) = delete;
    c_led_sync& operator=(const c_led_sync&) = delete;

    // The X display whose locks XKB sets when there is no companion; an empty
    // name turns XKB off (the default). The display opens on first use.
    void set_x11_display(const QByteArray& name);

    // Reports are applied only once the current time is later than this
    // moment (milliseconds since 1970). Any thread.
    void set_hold_until(int64_t msecsSinceEpoch);
    int64_t hold_until() const { return m_holdUntil.load(); }

    // One report from the device: unless held, sets LED 1, 2 and 3 from bits
    // 0, 1 and 2 (the other bits are ignored). True when applied.
    bool apply(uint8_t bits);

    // One LED by index (1 Num, 2 Caps, 3 Scroll): has the companion started
    // with the index and 0/1 when that differs from what it last set (on a
    // thread of its own, after the previous instance has ended and at least
    // COMPANION_GAP_MS after the previous start), or sets the lock through XKB.
    void set_local_led(int index, bool on);

    static constexpr int COMPANION_GAP_MS = 100;

    // The companion's path, empty when it is not there.
    QString companion_path() const;

private:
    bool set_xkb_lock(int index, bool on);
    void run_companions();

    // Companion runs: the state the reports ask for and the state the
    // companion was last started with, per LED (-1: none yet).
    std::mutex m_runLock;
    std::condition_variable m_runWake;
    int m_wanted[3] = {-1, -1, -1};
    int m_started[3] = {-1, -1, -1};
    QString m_companion;
    bool m_stop = false;
    std::thread m_runner;

    const QString m_workingDir;
    std::atomic<int64_t> m_holdUntil;

    // XKB state; reports arrive on the video receive thread, the display name
    // is set on the GUI thread.
    std::mutex m_xLock;
    QByteArray m_displayName;
    void* m_display = nullptr;  // Display*, kept out of this header
    bool m_displayFailed = false;
};
