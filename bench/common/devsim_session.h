#pragma once
// For the KM and media benchmarks: a real main window (offscreen) against the
// in-process test device (tests/common/devsim_window.h), the time at which the
// device has each KM message deciphered, a 64 MiB disk image to map, and the
// GUI thread's event loop run while a worker thread drives the benchmark.
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QMetaObject>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "c_devsim_km.h"
#include "c_devsim_media.h"
#include "common/bench_figures.h"
#include "common/devsim_window.h"
#include "common/gui_worker.h"
#include "common/h264video_peer.h"
#include "ui/c_ui_u_setting_dlg.h"

namespace bench {

// Times of the KM messages the device has deciphered, in arrival order.
class km_arrivals
{
public:
    explicit km_arrivals(c_devsim& dev)
    {
        dev.events().set_observer([this](const QJsonObject& e) {
            if (e.value(QStringLiteral("channel")).toString() != QLatin1String("km") ||
                e.value(QStringLiteral("event")).toString() != QLatin1String("recv"))
                return;
            const auto now = clock::now();
            {
                std::lock_guard<std::mutex> g(m_lock);
                m_times.push_back(now);
            }
            m_cond.notify_all();
        });
    }

    size_t count() const
    {
        std::lock_guard<std::mutex> g(m_lock);
        return m_times.size();
    }

    // Waits until more than n messages arrived; the arrival time of message n.
    bool wait_beyond(size_t n, int timeout_ms, clock::time_point* when)
    {
        std::unique_lock<std::mutex> g(m_lock);
        if (!m_cond.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return m_times.size() > n; }))
            return false;
        *when = m_times[n];
        return true;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_cond;
    std::vector<clock::time_point> m_times;
};

// A disk image of the given size with pseudo-random sectors.
inline bool make_image(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::mt19937_64 rng(20240601);
    std::vector<uint64_t> chunk(1 << 17);  // 1 MiB
    for (qint64 done = 0; done < bytes; done += qint64(chunk.size() * 8)) {
        for (auto& v : chunk)
            v = rng();
        const qint64 n = std::min<qint64>(bytes - done, qint64(chunk.size() * 8));
        if (f.write(reinterpret_cast<const char*>(chunk.data()), n) != n)
            return false;
    }
    return true;
}

inline c_media_protocol* media_protocol(H264Video& w)
{
    c_ui_u_setting_dlg* d = H264VideoTestPeer::mediaDialog(w);
    return d ? &d->protocol() : nullptr;
}

}  // namespace bench
