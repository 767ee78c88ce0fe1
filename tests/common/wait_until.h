#pragma once
// Bounded waits for tests: poll a condition instead of sleeping a fixed time.
#include <chrono>
#include <functional>
#include <thread>

// Polls cond every poll_ms (5) until it holds or timeout_ms passes. A costly
// condition (a screenshot, a growing file) may poll less often.
inline bool wait_until(const std::function<bool()>& cond, int timeout_ms = 5000, int poll_ms = 5)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
    }
    return true;
}
