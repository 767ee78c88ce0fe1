#include "log/CSem.h"

#include <chrono>

CSem::CSem(int initial, int maximum) : m_count(initial), m_max(maximum) {}

bool CSem::post(int count)
{
    std::lock_guard<std::mutex> lk(m_mutex);
    if (m_count >= m_max)
        return false;
    m_count = (m_count + count > m_max) ? m_max : m_count + count;
    m_cond.notify_all();
    return true;
}

bool CSem::wait(unsigned timeout_ms)
{
    std::unique_lock<std::mutex> lk(m_mutex);
    if (!m_cond.wait_for(lk, std::chrono::milliseconds(timeout_ms), [this] { return m_count > 0; }))
        return false;
    --m_count;
    return true;
}
