#include "tools/socket/c_event.h"

#include <chrono>

c_event::c_event(bool manual_reset, bool initially_set) : m_manual(manual_reset), m_set(initially_set) {}

void c_event::set()
{
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_set = true;
    }
    if (m_manual)
        m_cond.notify_all();
    else
        m_cond.notify_one();
}

void c_event::reset()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_set = false;
}

bool c_event::wait(unsigned timeout_ms)
{
    std::unique_lock<std::mutex> g(m_mutex);
    if (!m_cond.wait_for(g, std::chrono::milliseconds(timeout_ms), [this] { return m_set; }))
        return false;
    if (!m_manual)
        m_set = false;
    return true;
}

bool c_event::is_set() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_set;
}
