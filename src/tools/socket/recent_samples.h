#pragma once
// Timed samples of one figure (a round trip, a decode time) and their median
// over a recent window, for the statistics overlay. Any thread may add or ask.
// Kept bounded: the oldest half goes when it fills.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

class recent_samples
{
public:
    static int64_t now_ms()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void add(int64_t value)
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_samples.emplace_back(now_ms(), value);
        if (m_samples.size() > k_max)
            m_samples.erase(m_samples.begin(), m_samples.begin() + long(k_max / 2));
    }

    // Median of the samples of the last window_ms; -1 when there are none.
    int64_t median(int64_t window_ms = 1000) const
    {
        const int64_t since = now_ms() - window_ms;
        std::vector<int64_t> v;
        {
            std::lock_guard<std::mutex> g(m_lock);
            for (auto it = m_samples.rbegin(); it != m_samples.rend() && it->first >= since; ++it)
                v.push_back(it->second);
        }
        if (v.empty())
            return -1;
        std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
        return v[v.size() / 2];
    }

private:
    static constexpr size_t k_max = 4096;
    mutable std::mutex m_lock;
    std::vector<std::pair<int64_t, int64_t> > m_samples;  // (when ms, value)
};
