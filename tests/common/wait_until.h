#pragma once
// Bounded waits for tests: poll a condition instead of sleeping a fixed time.
#include <chrono>
#include <functional>
#include <thread>

// Polls cond every 5 ms until it holds or timeout_ms passes.
inline bool wait_until(const std::function<bool()>& cond, int timeout_ms = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end)
            return cond();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
