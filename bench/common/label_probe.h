#pragma once
// Counts the pictures a main window has shown, with the time of each:
// connected to the window's picture signal after the window's own render
// slot, it runs right after each render on the GUI thread.
#include <QObject>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/bench_figures.h"
#include "common/h264video_peer.h"
#include "h264video.h"

namespace bench {

class label_probe : public QObject
{
public:
    explicit label_probe(H264Video& w) : m_window(w), m_key(H264VideoTestPeer::picturesShown(w))
    {
        connect(&w, &H264Video::signal_decode_one_frame, this, [this] { after_render(); }, Qt::QueuedConnection);
    }

    int count() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return int(m_times.size());
    }

    // Waits until more than n pictures were shown; the time of picture n.
    bool wait_beyond(int n, int timeout_ms, clock::time_point* when)
    {
        std::unique_lock<std::mutex> g(m_lock);
        if (!m_cond.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return int(m_times.size()) > n; }))
            return false;
        *when = m_times[size_t(n)];
        return true;
    }

private:
    void after_render()
    {
        const uint64_t key = H264VideoTestPeer::picturesShown(m_window);
        if (key == m_key)
            return;
        const auto now = clock::now();
        m_key = key;
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_times.push_back(now);
        }
        m_cond.notify_all();
    }

    H264Video& m_window;
    uint64_t m_key;
    mutable std::mutex m_lock;
    std::condition_variable m_cond;
    std::vector<clock::time_point> m_times;
};

}  // namespace bench
