#ifndef KVM_TOOLS_DECODER_C_VIDEO_DECODER_H
#define KVM_TOOLS_DECODER_C_VIDEO_DECODER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "tools/decoder/c_picture_scaler.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

// H.264 access units in, 32-bit BGRA pictures out (blue, green, red, alpha in
// memory order: on this little-endian platform that is QImage::Format_RGB32).
// Decoding and conversion are two steps so the caller can pick the memory
// the picture is converted into once the picture's size is known.
// Not thread-safe: one thread decodes (the video receive thread).
class c_video_decoder
{
public:
    // libavcodec threads: 0 lets it choose; slice threads only, which hold no
    // picture back (the benchmarks' reference decoder uses the same).
    static constexpr int k_codec_threads = 0;
    // libswscale threads for the conversion to BGRA (the calling thread).
    static constexpr int k_convert_threads = 1;
    // Largest picture accepted (DCI 8K): the decoder is opened with this as
    // its pixel limit, so a larger stream is refused when its parameter sets
    // arrive, before any picture memory for it is allocated.
    static constexpr int k_max_width = 8192;
    static constexpr int k_max_height = 4320;
    static constexpr int64_t k_max_pixels = int64_t(k_max_width) * k_max_height;

    c_video_decoder() = default;
    ~c_video_decoder();

    c_video_decoder(const c_video_decoder&) = delete;
    c_video_decoder& operator=(const c_video_decoder&) = delete;

    // True when the decoder is ready; after a failure every decode fails.
    bool open();

    // Told, during decode(), each time rows [y, y + rows) of the picture
    // being decoded are final. Bands normally come in order from the top;
    // a stream of several slices can give them out of order and from
    // libavcodec's slice threads at once. Set before open().
    using band_handler = std::function<void(const AVFrame* picture, int y, int rows)>;
    void set_band_handler(band_handler handler) { m_on_band = std::move(handler); }

    // Picture memory of a new size is new memory, and the first write to
    // each page faults it in: about 2 ms for a 1080p picture on the
    // development machine, paid by each of the first pictures. When set
    // (before open()), the first picture of each size also takes
    // k_spare_pictures more pictures' memory from the decoder's own pool
    // and hands them over: the handler's owner writes to them, off the
    // decoding thread, and frees them, which puts them back in the pool.
    static constexpr int k_spare_pictures = 2;
    using spare_handler = std::function<void(AVFrame* spare)>;
    void set_spare_handler(spare_handler handler) { m_on_spare = std::move(handler); }

    // Decodes one access unit. Returns a negative number on a decoding
    // error, 0 when the unit was consumed without producing a picture (for
    // instance parameter sets only), otherwise length; in that case the new
    // picture waits for convert().
    int decode(const uint8_t* data, int length);

    // Size of the last decoded picture, 0 before the first.
    int picture_width() const { return m_width; }
    int picture_height() const { return m_height; }
    // The last decoded picture (null before the first); valid until the next decode().
    const AVFrame* picture() const { return m_has_picture ? m_picture : nullptr; }

    // Converts the last decoded picture to BGRA rows of dst_stride bytes
    // starting at dst (at least picture_height() * dst_stride bytes). The
    // scaler context is kept and reused while the picture size and format
    // stay the same.
    bool convert(uint8_t* dst, int dst_stride);

    // A new reference to the last decoded picture (the decoder never writes
    // into it again), or null before the first.
    std::shared_ptr<const AVFrame> share_picture() const;

    // Size of the last stream refused for being over k_max_pixels (0 x 0
    // when none was). Set on the decoding thread, readable on any.
    int refused_width() const { return int(m_refused.load() >> 32); }
    int refused_height() const { return int(m_refused.load() & 0xffffffffu); }

    // Releases the codec, the picture and the scaler (also run by the destructor).
    void close();

private:
    // A unit that gave no picture: if its parameter sets declare a picture
    // over the limit, remembers and logs the size once per stream size.
    void check_refused(const uint8_t* data, int length);
    static void band_done(AVCodecContext* codec, const AVFrame* picture, int offset[], int y, int type, int rows);
    static int get_buffer(AVCodecContext* codec, AVFrame* picture, int flags);

    AVCodecContext* m_codec = nullptr;
    AVCodecParserContext* m_parser = nullptr; // reads picture sizes of refused units
    AVCodecContext* m_parser_codec = nullptr;
    AVFrame* m_picture = nullptr;  // last decoded picture
    AVFrame* m_received = nullptr; // receiving side of the decoder
    AVPacket* m_packet = nullptr;
    c_picture_scaler m_scaler;
    band_handler m_on_band;
    spare_handler m_on_spare;
    uint64_t m_spared_for = 0; // size and format the spares were taken for
    std::atomic<uint64_t> m_refused{0}; // width << 32 | height
    int m_width = 0;
    int m_height = 0;
    bool m_has_picture = false;
};

#endif
