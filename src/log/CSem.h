#pragma once
// Counting semaphore with a maximum count and a timed wait.
#include <condition_variable>
#include <mutex>

class CSem
{
public:
    CSem(int initial, int maximum);

    // Adds count (capped at the maximum); false when the semaphore was already full.
    bool post(int count = 1);
    // Waits until the count is above 0 and takes one; false after timeout_ms.
    bool wait(unsigned timeout_ms);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    int m_count;
    int m_max;
};
