#pragma once
// Wake-up object of a send thread: a wait condition with its own mutex, owned
// by the channel's owner and lent to the thread. Producers need not signal it
// (the thread polls), but wake_all() shortens the wait, e.g. on stop.
#include <condition_variable>
#include <mutex>

class c_wake_up
{
public:
    c_wake_up() = default;
    c_wake_up(const c_wake_up&) = delete;
    c_wake_up& operator=(const c_wake_up&) = delete;

    // Waits at most timeout_ms; true when woken before the time-out.
    bool wait(unsigned timeout_ms);
    void wake_all();

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    unsigned long m_generation = 0;
};
