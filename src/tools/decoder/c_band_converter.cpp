#include "tools/decoder/c_band_converter.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstring>
#include <utility>

extern "C" {
#include <libavutil/frame.h>
}

c_band_converter::c_band_converter() : m_thread([this] { run(); })
{
    CPU_ZERO(&m_allowed);
    if (sched_getaffinity(0, sizeof(m_allowed), &m_allowed) != 0)
        CPU_ZERO(&m_allowed);
}

void c_band_converter::keep_off(int cpu)
{
    // Woken by the decoding thread, the scheduler tends to put this thread
    // on the waker's core even when another is idle, and the two then share
    // one core: measured at 60/s on two cores, the slowest pictures had
    // most of their bands converted on the decoder's core, and decoding
    // took a p90 of 6.6 ms against 4.4 ms with this thread kept off it.
    // Only the core the decoder is on is left out.
    if (cpu < 0 || cpu == m_kept_off || !CPU_ISSET(cpu, &m_allowed) || CPU_COUNT(&m_allowed) < 2)
        return;
    cpu_set_t set = m_allowed;
    CPU_CLR(cpu, &set);
    if (pthread_setaffinity_np(m_thread.native_handle(), sizeof(set), &set) == 0)
        m_kept_off = cpu;
}

c_band_converter::~c_band_converter()
{
    {
        std::unique_lock<std::mutex> g(m_lock);
        if (m_active)
            release(g);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    av_frame_free(&m_prepare);
    for (AVFrame*& f : m_spares)
        av_frame_free(&f);
}

void c_band_converter::warm(AVFrame* spare)
{
    if (!spare)
        return;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_spares.push_back(spare);
    }
    m_wake.notify_one();
}

void c_band_converter::prepare(const AVFrame* picture, const QSize& own, const QSize& size)
{
    if (!picture || own.isEmpty() || size.isEmpty())
        return;
    AVFrame* like = av_frame_alloc();
    if (!like)
        return;
    // Only the format and the sizes are read: no pixels.
    like->format = picture->format;
    like->width = own.width();
    like->height = own.height();
    {
        std::lock_guard<std::mutex> g(m_lock);
        av_frame_free(&m_prepare);
        m_prepare = like;
        m_prepare_size = size;
    }
    m_wake.notify_one();
}

bool c_band_converter::begin(const AVFrame* picture, const QSize& own, c_conversion_buffer::picture out,
                             const QSize& size)
{
    if (!picture || out.image.isNull() || size.isEmpty() || own.isEmpty() || own.width() > picture->width ||
        own.height() > picture->height)
        return false;
    AVFrame* ref = av_frame_clone(picture);
    if (!ref)
        return false;
    keep_off(sched_getcpu());
    ref->width = own.width();
    ref->height = own.height();
    std::lock_guard<std::mutex> g(m_lock);
    if (m_active) {
        av_frame_free(&ref);
        return false;
    }
    m_picture = ref;
    m_out = std::move(out);
    m_size = size;
    m_height = own.height();
    m_ready = 0;
    m_fed = 0;
    // Woken a few times a picture, not at every row of macroblocks.
    m_batch = std::max(64, m_height / 6);
    m_failed = false;
    m_active = true;
    return true;
}

int c_band_converter::usable_rows() const
{
    // Bands end on whole chroma rows, except the picture's last.
    return m_ready >= m_height ? m_height : m_ready & ~1;
}

void c_band_converter::rows_ready(int ready)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> g(m_lock);
        if (!m_active || ready <= m_ready)
            return;
        m_ready = std::min(ready, m_height);
        wake = !m_converting && (m_ready >= m_height || usable_rows() - m_fed >= m_batch);
    }
    if (wake)
        m_wake.notify_one();
}

QImage c_band_converter::finish()
{
    std::unique_lock<std::mutex> g(m_lock);
    if (!m_active)
        return QImage();
    m_ready = m_height;
    // Only a band under way is waited for; the rest the decoding thread
    // converts itself, rather than wait for this thread to get a core.
    m_done.wait(g, [&] { return !m_converting; });
    if (!m_failed && m_fed < m_height)
        convert_band(g, m_height);
    QImage image = m_failed ? QImage() : m_out.image;
    release(g);
    return image;
}

void c_band_converter::abandon()
{
    std::unique_lock<std::mutex> g(m_lock);
    if (m_active)
        release(g);
}

void c_band_converter::release(std::unique_lock<std::mutex>& lock)
{
    m_active = false;
    // The thread may be inside a band: the picture stays until it is out.
    m_done.wait(lock, [&] { return !m_converting; });
    av_frame_free(&m_picture);
    m_out = c_conversion_buffer::picture();
}

void c_band_converter::convert_band(std::unique_lock<std::mutex>& lock, int to)
{
    const int from = m_fed;
    m_converting = true;
    lock.unlock();
    // Only rows the decoder has finished are read; it writes below them
    // meanwhile.
    const bool ok = m_scaler.convert_rows(m_picture, from, to - from, m_out.pixels, m_out.stride, m_size.width(),
                                          m_size.height());
    lock.lock();
    m_converting = false;
    m_fed = to;
    m_failed = m_failed || !ok;
    m_done.notify_all();
}

void c_band_converter::run()
{
    // Named so that per-thread CPU figures tell it from the GUI thread.
    pthread_setname_np(pthread_self(), "video_bands");
    std::unique_lock<std::mutex> g(m_lock);
    for (;;) {
        m_wake.wait(g, [&] {
            return m_stop || (m_active && !m_failed && !m_converting && usable_rows() > m_fed) ||
                   (!m_active && (m_prepare || !m_spares.empty()));
        });
        if (m_stop)
            return;
        if (!m_active && !m_spares.empty()) {
            AVFrame* spare = m_spares.back();
            m_spares.pop_back();
            g.unlock();
            for (int p = 0; p < AV_NUM_DATA_POINTERS && spare->buf[p]; ++p)
                std::memset(spare->buf[p]->data, 0, spare->buf[p]->size);
            av_frame_free(&spare);
            g.lock();
            continue;
        }
        if (m_prepare && !m_active) {
            AVFrame* like = std::exchange(m_prepare, nullptr);
            const QSize size = m_prepare_size;
            // The scaler is busy: a picture begun meanwhile is finished by
            // the decoding thread only after this.
            m_converting = true;
            g.unlock();
            m_scaler.prepare(like, size.width(), size.height());
            av_frame_free(&like);
            g.lock();
            m_converting = false;
            m_done.notify_all();
            continue;
        }
        convert_band(g, usable_rows());
    }
}
