#include "tools/socket/c_wake_up.h"

#include <chrono>

unsigned long c_wake_up::ticket()
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_generation;
}

bool c_wake_up::wait_from(unsigned long ticket, unsigned timeout_ms)
{
    std::unique_lock<std::mutex> g(m_mutex);
    return m_cond.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return m_generation != ticket; });
}

bool c_wake_up::wait(unsigned timeout_ms)
{
    std::unique_lock<std::mutex> g(m_mutex);
    const unsigned long start = m_generation;
    return m_cond.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return m_generation != start; });
}

void c_wake_up::wake_all()
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        ++m_generation;
    }
    m_cond.notify_all();
}
