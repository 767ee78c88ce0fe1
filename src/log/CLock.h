#pragma once
// Critical section used by the logger (console and write serialisation).
#include <mutex>

class CLock
{
public:
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    bool try_lock() { return m_mutex.try_lock(); }

private:
    std::mutex m_mutex;
};

// Holds a CLock for one scope.
class CAutoLock
{
public:
    explicit CAutoLock(CLock& lock) : m_lock(lock) { m_lock.lock(); }
    ~CAutoLock() { m_lock.unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CLock& m_lock;
};
