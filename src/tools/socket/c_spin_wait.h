#pragma once
// Bounded busy wait in front of a sleeping wait. On a fast link the answer to
// a stop-and-wait message comes back within microseconds, sooner than a
// sleeping thread is woken again, and every message would pay that wake-up.
// The waiter therefore looks for the answer for a short while first, but only
// while answers keep coming that fast: after a few looks in a row that ran
// out it goes straight to sleep, and only every 64th wait looks again, so a
// slow link costs next to no processor time.
#include <chrono>

class c_spin_wait
{
public:
    static constexpr std::chrono::microseconds k_default_budget{50};
    static constexpr int k_misses_to_stop = 3;
    static constexpr int k_probe_every = 64;

    explicit c_spin_wait(std::chrono::nanoseconds budget = k_default_budget) : m_budget(budget) {}

    // Looks for ready() until it is true or the budget is spent. Returns
    // ready()'s last value; false at once when looking does not pay now.
    template <typename Ready>
    bool spin(Ready ready)
    {
        if (!m_spinning && ++m_waits_since_look < k_probe_every)
            return false;
        m_waits_since_look = 0;
        const auto end = std::chrono::steady_clock::now() + m_budget;
        for (;;) {
            if (ready()) {
                m_misses = 0;
                m_spinning = true;
                return true;
            }
            if (std::chrono::steady_clock::now() >= end)
                break;
            relax();
        }
        if (++m_misses >= k_misses_to_stop)
            m_spinning = false;
        return false;
    }

    bool spinning() const { return m_spinning; }

private:
    static void relax();

    std::chrono::nanoseconds m_budget;
    bool m_spinning = true;
    int m_misses = 0;
    int m_waits_since_look = 0;
};
