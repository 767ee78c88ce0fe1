#ifndef KVM_TOOLS_DECODER_C_BAND_CONVERTER_H
#define KVM_TOOLS_DECODER_C_BAND_CONVERTER_H

#include <QImage>
#include <QSize>

#include <sched.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_picture_scaler.h"

struct AVFrame;

// Converts a picture to the size it is shown at while the decoder is still
// writing it: the decoding thread reports rows as they become final, and
// this object's thread scales them at once on the other core. When the last
// row is decoded only its band and the conversion of the scaled planes to
// BGRA are left, instead of the whole conversion on the GUI thread.
//
// One picture at a time. Everything but the thread itself is called on the
// decoding thread (rows_ready() also on libavcodec's slice threads, under
// the caller's lock).
class c_band_converter
{
public:
    c_band_converter();
    ~c_band_converter();

    c_band_converter(const c_band_converter&) = delete;
    c_band_converter& operator=(const c_band_converter&) = delete;

    // Starts converting the top left `own` pixels of picture (a reference is
    // kept until finish() or abandon()) into out, at size. False if a
    // picture is still under way.
    bool begin(const AVFrame* picture, const QSize& own, c_conversion_buffer::picture out, const QSize& size);

    // Readies the thread's converter, while it is idle, for pictures like
    // picture (its format), cut to own, at size (any thread).
    void prepare(const AVFrame* picture, const QSize& own, const QSize& size);

    // Takes spare, writes to its memory while idle (so that its pages are
    // faulted in there, not while a picture is decoded into it) and frees
    // it (any thread).
    void warm(AVFrame* spare);

    // Rows [0, ready) of the picture are final.
    void rows_ready(int ready);

    // After the picture's last row: waits for a band under way, converts
    // what is left on the calling thread, and returns the converted image.
    // A null image when the conversion failed, or when the band under way
    // took several times a band's usual time (the thread lost its core): the
    // picture is then left to the caller's own conversion rather than held
    // back for as long as the thread cannot run. Either way the picture is
    // let go.
    QImage finish();

    // Lets the picture go unconverted. Returns at once; a band under way
    // ends on the thread, which then lets go of the picture and its memory.
    void abandon();

    // Called on the thread before each band (tests stall it here).
    void set_before_band(std::function<void()> hook);

private:
    void run();
    void release(std::unique_lock<std::mutex>& lock);
    int usable_rows() const; // rows the next band may end at
    void keep_off(int cpu);  // the thread may run on any allowed core but cpu
    void converted(std::unique_lock<std::mutex>& lock); // the thread's use of the scaler ended

    mutable std::mutex m_lock;
    std::condition_variable m_wake; // the thread: rows or a stop
    std::condition_variable m_done; // the decoding thread: a band done
    AVFrame* m_picture = nullptr;
    c_conversion_buffer::picture m_out;
    QSize m_size;
    int m_height = 0;
    int m_ready = 0;
    int m_fed = 0;
    int m_batch = 0;
    bool m_active = false;
    bool m_converting = false; // the scaler is in use (a band or readying it)
    bool m_failed = false;
    bool m_stop = false;
    bool m_orphaned = false; // let go while in a band: the thread frees it
    int64_t m_band_ns = 0;   // processor time of the thread's last band
    std::function<void()> m_before_band;
    AVFrame* m_prepare = nullptr; // a picture's format and size to prepare for,
    QSize m_prepare_size;         // and the size to convert it to
    std::vector<AVFrame*> m_spares; // pictures' memory to warm
    c_picture_scaler m_scaler; // used only by whoever set m_converting
    cpu_set_t m_allowed;       // the cores the process may use
    int m_kept_off = -1;       // the core the thread was last kept off
    std::thread m_thread;
};

#endif
