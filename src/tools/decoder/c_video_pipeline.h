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
class c_picture_scaler;
class c_band_converter;
struct AVFrame;

// Everything between type-6 video messages and pictures for the screen, made
// anew at each video channel start: the fragment assembler, the H.264
// decoder, the one-picture hand-over slot, the scaler and the conversion
// buffer.
//
// The video receive thread calls on_video_data(), which decodes every
// picture and leaves the newest in the hand-over; when it returns true the
// caller notifies the GUI thread (a queued signal), which calls
// take_picture(). That converts the picture, with no full-size copy, to the
// size it will be shown at: pictures replaced before they were shown are
// never converted. At most one notice is outstanding.
//
// A picture that will be shown as soon as it is decoded (nothing else
// waits to be shown, and the GUI may draw again by the time it is decoded)
// is instead converted while it is being decoded, on a thread of its own,
// to the size the GUI last asked for: take_picture() then only hands it on.
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

    // Says, for a picture of the given size, how large to convert it (device
    // pixels); an empty size means unscaled.
    using target_for = std::function<QSize(const QSize& picture)>;

    // GUI thread: the newest picture not yet shown, converted to BGRA at the
    // size target gives (its own size without one), or a null image. The
    // image's memory is not written again while any copy of it exists.
    // source, when given, receives the picture's own size.
    QImage take_picture(const target_for& target = target_for(), QSize* source = nullptr);

    // GUI thread: the picture last taken, converted anew for target (after
    // the view was resized or changed mode), or a null image.
    QImage convert_again(const target_for& target, QSize* source = nullptr);

    // Any thread: whether a picture waits for take_picture().
    bool has_picture() const;

    // GUI thread: the earliest time the GUI may draw the next picture.
    // Pictures are converted while being decoded only if decoding them
    // ends after it (a burst is left to take_picture()).
    void set_draw_ready_at(std::chrono::steady_clock::time_point when);

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
    // Any thread: size of the last stream the decoder refused for being
    // larger than the largest picture shown (0 x 0 when none was).
    QSize refused_size() const;

    // Called on the receive thread, once per refused stream size, with that
    // size: the session can tell the user (set before data arrives).
    void set_refused_handler(std::function<void(const QSize&)> handler) { m_on_refused = std::move(handler); }

    // Counters for diagnostics and tests.
    uint64_t pictures_published() const { return m_published.load(); }
    uint64_t pictures_converted() const { return m_converted.load(); }
    // Of those, the ones converted while they were being decoded.
    uint64_t pictures_converted_early() const { return m_converted_early.load(); }

    c_video_decoder& decoder() { return *m_decoder; }
    c_frame_assembler& assembler() { return *m_assembler; }
    c_conversion_buffer& conversion_buffer() { return *m_conversion; }

private:
    std::shared_ptr<c_video_decoder> m_decoder;
    std::shared_ptr<c_frame_assembler> m_assembler;
    std::shared_ptr<c_conversion_buffer> m_conversion;
    std::shared_ptr<c_latest_picture> m_latest;
    std::shared_ptr<c_picture_scaler> m_scaler;
    std::unique_ptr<c_band_converter> m_bands;
    std::function<void(const QSize&)> m_on_refused;
    // Decoding thread (or libavcodec's slice threads): rows of the picture
    // being decoded are final.
    void on_band(const AVFrame* picture, int y, int rows);
    // Decoding thread, after each decode: the picture followed by the bands
    // converted, if it is the one decoded, else a null image.
    QImage finish_bands(const AVFrame* decoded);
    // The size the GUI last converted a picture of a given size to.
    void remember_target(const AVFrame* picture, const QSize& source, const QSize& target);
    static QSize target_size(const QSize& own, const target_for& target);
    std::shared_ptr<const AVFrame> m_last_taken; // GUI thread only
    QImage convert(const std::shared_ptr<const AVFrame>& picture, const target_for& target, QSize* source);
    bool m_open = false;
    std::atomic<uint64_t> m_decoded_size{0}; // width << 32 | height
    uint64_t m_reported_refused = 0;         // receive thread only
    std::atomic<uint64_t> m_published{0};

    std::mutex m_tap_lock;
    unit_tap m_tap;
    mutable std::mutex m_last_frame_lock;
    std::shared_ptr<const AVFrame> m_last_decoded;  // the decoder's last picture, shared
    std::atomic<uint64_t> m_converted{0};
    std::atomic<uint64_t> m_converted_early{0};

    std::mutex m_band_lock;          // the fields below
    QSize m_target_source;           // GUI: converted a picture of this size
    QSize m_target;                  // to this one
    bool m_one_slice = false;        // the unit being decoded holds one slice
    bool m_banding = false;          // the picture being decoded is being converted
    int m_band_rows = 0;             // its rows known final, from the top
    const uint8_t* m_band_pixels = nullptr; // its memory, to match the picture decoded
    QSize m_band_own;                // and its size
    std::atomic<int64_t> m_draw_ready_ns{0}; // steady clock
    std::atomic<int64_t> m_decode_ns{0};     // the last decode's time
};

#endif
