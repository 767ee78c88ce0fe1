#ifndef KVM_TOOLS_DECODER_C_BAND_CONVERTER_H
#define KVM_TOOLS_DECODER_C_BAND_CONVERTER_H

#include <QImage>
#include <QSize>

#include <sched.h>

#include <condition_variable>
#include <cstdint>
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
    // what is left on the calling thread, and returns the converted image,
    // or a null one when the conversion failed; either way the picture is
    // let go. (Not waiting for a band whose thread lost its core was tried:
    // converting the picture again elsewhere costs about as much as the
    // wait.)
    QImage finish();

    // Lets the picture go unconverted; returns once the thread no longer
    // reads it.
    void abandon();

private:
    void run();
    void release(std::unique_lock<std::mutex>& lock);
    int usable_rows() const; // rows the next band may end at
    void keep_off(int cpu);  // the thread may run on any allowed core but cpu
    // Converts rows [m_fed, to) with the lock let go meanwhile; any thread,
    // while the scaler is free.
    void convert_band(std::unique_lock<std::mutex>& lock, int to);

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
    AVFrame* m_prepare = nullptr; // a picture's format and size to prepare for,
    QSize m_prepare_size;         // and the size to convert it to
    std::vector<AVFrame*> m_spares; // pictures' memory to warm
    c_picture_scaler m_scaler; // used only by whoever set m_converting
    cpu_set_t m_allowed;       // the cores the process may use
    int m_kept_off = -1;       // the core the thread was last kept off
    std::thread m_thread;
};

#endif
