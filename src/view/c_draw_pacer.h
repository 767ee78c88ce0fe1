#pragma once
// Paces the drawing of decoded pictures: on average at most one per gap, but
// up to `burst` may follow one another without waiting. A stream faster than
// the screen refreshes is held to about 1000 / gap draws a second (drawing
// pictures nobody sees would take a core from decoding), while a picture
// that comes early only because the one before it came late is drawn at once
// instead of waiting for the late one's sake.
#include <algorithm>

class c_draw_pacer
{
public:
    c_draw_pacer(double gap_ms, double burst) : m_gap(gap_ms), m_burst(std::max(1.0, burst)) {}

    // How long a picture ready at now_ms must wait before it may be drawn;
    // 0 when it may be drawn now.
    double wait_ms(double now_ms) const
    {
        const double credit = credit_at(now_ms);
        return credit >= 1.0 ? 0.0 : (1.0 - credit) * m_gap;
    }

    // A picture was drawn at now_ms.
    void drawn(double now_ms)
    {
        m_credit = credit_at(now_ms) - 1.0;
        m_last = now_ms;
        m_started = true;
    }

private:
    double credit_at(double now_ms) const
    {
        if (!m_started)
            return m_burst;
        return std::min(m_burst, m_credit + std::max(0.0, now_ms - m_last) / m_gap);
    }

    double m_gap;
    double m_burst;
    double m_credit = 0.0;
    double m_last = 0.0;
    bool m_started = false;
};
