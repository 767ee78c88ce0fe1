#pragma once
// Timed event: auto-reset (a successful wait consumes the signal and releases
// one waiter) or manual-reset (stays set until reset()).
#include <condition_variable>
#include <mutex>

class c_event
{
public:
    explicit c_event(bool manual_reset = false, bool initially_set = false);

    c_event(const c_event&) = delete;
    c_event& operator=(const c_event&) = delete;

    void set();
    void reset();
    // True when signalled within timeout_ms (0 polls), false on time-out.
    bool wait(unsigned timeout_ms);
    bool is_set() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    const bool m_manual;
    bool m_set;
};
