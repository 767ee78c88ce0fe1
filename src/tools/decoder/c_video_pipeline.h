#ifndef KVM_TOOLS_DECODER_C_VIDEO_PIPELINE_H
#define KVM_TOOLS_DECODER_C_VIDEO_PIPELINE_H

#include <QImage>
#include <QSize>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class c_video_decoder;
class c_frame_assembler;
class c_conversion_buffer;
class c_latest_picture;
struct AVFrame;

// Everything between type-6 video messages and pictures for the GUI, made
// anew at each video channel start: the fragment assembler, the H.264
// decoder, the conversion buffer and the one-picture hand-over slot.
//
// The video receive thread calls on_video_data(); when it returns true the
// caller notifies the GUI thread (a queued signal), which calls
// take_picture(). At most one notice is outstanding; a picture not yet
// taken is replaced by a newer one.
class c_video_pipeline
{
public:
    c_video_pipeline();
    ~c_video_pipeline();

    c_video_pipeline(const c_video_pipeline&) = delete;
    c_video_pipeline& operator=(const c_video_pipeline&) = delete;

    // Whether the decoder opened; when it did not, nothing is ever shown.
    bool is_open() const { return m_open; }

    // Video receive thread: one type-6 body (type byte first). Returns true
    // when a new picture waits and the GUI thread has to be told.
    bool on_video_data(const uint8_t* body, int length);

    // GUI thread: the newest picture not yet shown, or a null image. The
    // image is only read by the GUI; the decoder never writes into it again.
    QImage take_picture();

    // Any thread: size of the last picture decoded (0 x 0 before the first).
    QSize decoded_size() const;

    // A copy of the last decoded picture at its own size (not the shown,
    // scaled one), or a null image before the first. Any thread.
    QImage snapshot() const;

    // Called on the video receive thread with every complete access unit
    // (Annex B, before decoding) and the time its last fragment arrived;
    // the bytes are only valid during the call. Any thread may set or clear
    // it; once set_unit_tap() returns, the previous tap is no longer called.
    using unit_tap = std::function<void(const uint8_t* unit, int length, std::chrono::steady_clock::time_point arrival)>;
    void set_unit_tap(unit_tap tap);

    // Counters for diagnostics and tests.
    uint64_t pictures_published() const { return m_published.load(); }

    c_video_decoder& decoder() { return *m_decoder; }
    c_frame_assembler& assembler() { return *m_assembler; }
    c_conversion_buffer& conversion_buffer() { return *m_conversion; }

private:
    std::shared_ptr<c_video_decoder> m_decoder;
    std::shared_ptr<c_frame_assembler> m_assembler;
    std::shared_ptr<c_conversion_buffer> m_conversion;
    std::shared_ptr<c_latest_picture> m_latest;
    bool m_open = false;
    std::atomic<uint64_t> m_decoded_size{0}; // width << 32 | height
    std::atomic<uint64_t> m_published{0};

    std::mutex m_tap_lock;
    unit_tap m_tap;
    mutable std::mutex m_last_frame_lock;
    AVFrame* m_last_frame = nullptr;  // a reference to the decoder's last picture
};

#endif
