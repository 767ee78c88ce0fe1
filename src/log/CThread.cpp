#include "log/CThread.h"

#include <system_error>

CThread::~CThread()
{
    join();
}

bool CThread::start(std::function<void()> body)
{
    if (m_thread.joinable())
        return false;
    try {
        m_thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CThread::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}
