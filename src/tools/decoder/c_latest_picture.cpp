#include "tools/decoder/c_latest_picture.h"

#include <utility>

bool c_latest_picture::put(std::shared_ptr<const AVFrame> picture, QImage converted)
{
    handed replaced;
    std::lock_guard<std::mutex> lock(m_mutex);
    // The replaced picture is released after the lock, outside the critical section.
    replaced = std::exchange(m_pending, handed{std::move(picture), std::move(converted)});
    const bool notify = !m_notice_out;
    m_notice_out = true;
    return notify;
}

c_latest_picture::handed c_latest_picture::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notice_out = false;
    return std::exchange(m_pending, handed());
}

bool c_latest_picture::has_pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.picture != nullptr;
}
