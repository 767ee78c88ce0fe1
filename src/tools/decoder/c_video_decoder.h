#ifndef KVM_TOOLS_DECODER_C_VIDEO_DECODER_H
#define KVM_TOOLS_DECODER_C_VIDEO_DECODER_H

#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

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
    // libswscale threads for the conversion to BGRA.
    static constexpr int k_convert_threads = 1;

    c_video_decoder() = default;
    ~c_video_decoder();

    c_video_decoder(const c_video_decoder&) = delete;
    c_video_decoder& operator=(const c_video_decoder&) = delete;

    // True when the decoder is ready; after a failure every decode fails.
    bool open();

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

    // Releases the codec, the picture and the scaler (also run by the destructor).
    void close();

private:
    AVCodecContext* m_codec = nullptr;
    AVFrame* m_picture = nullptr;  // last decoded picture
    AVFrame* m_received = nullptr; // receiving side of the decoder
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_has_picture = false;
};

#endif
