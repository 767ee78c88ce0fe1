#pragma once
// A joinable worker thread running one function.
#include <functional>
#include <thread>

class CThread
{
public:
    CThread() = default;
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the thread; false when it could not be created or one is already running.
    bool start(std::function<void()> body);
    // Waits for the thread to end (no-op when none was started).
    void join();
    bool joinable() const { return m_thread.joinable(); }

private:
    std::thread m_thread;
};
