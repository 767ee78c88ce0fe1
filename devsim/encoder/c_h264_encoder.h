#ifndef KVM_DEVSIM_ENCODER_C_H264_ENCODER_H
#define KVM_DEVSIM_ENCODER_C_H264_ENCODER_H

#include <QImage>

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Live H.264 encoder as a KVM device would run it: libx264 through
// libavcodec, preset ultrafast, tune zerolatency, no B-frames, one access
// unit out per picture in. Output is Annex B byte stream; every key frame
// carries its SPS and PPS in front, so a viewer can start at any key frame.
class c_h264_encoder
{
public:
    using access_unit = std::vector<uint8_t>;

    struct options
    {
        int keyframe_interval = 0;  // pictures between key frames; 0: two seconds
        int crf = 23;               // constant quality (lower is better); ignored with bitrate
        int bitrate_kbps = 0;       // > 0: average bit rate instead of crf
        int threads = 1;            // encoder threads (sliced, no added delay)
    };

    c_h264_encoder() = default;
    ~c_h264_encoder();

    c_h264_encoder(const c_h264_encoder&) = delete;
    c_h264_encoder& operator=(const c_h264_encoder&) = delete;

    // Opens for pictures of width x height (even numbers) at fps per second.
    bool open(int width, int height, int fps);
    bool open(int width, int height, int fps, const options& opt);
    void close();
    bool is_open() const { return m_codec != nullptr; }

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Encodes one picture; any size or format is converted to the open size.
    // Returns the access units that came out (normally exactly one).
    std::vector<access_unit> encode(const QImage& picture);

    // Same for BGRA pixels (QImage::Format_RGB32/ARGB32 memory order) of
    // the open size, rows stride bytes apart.
    std::vector<access_unit> encode_bgra(const uint8_t* pixels, int stride);

    // Makes the next picture a key frame (IDR, with parameter sets).
    void request_keyframe() { m_force_key = true; }

    // Access units still inside the encoder (none with zerolatency).
    std::vector<access_unit> flush();

    // Splits an Annex B access unit into NAL units, start codes removed.
    static std::vector<std::vector<uint8_t>> split_nal_units(const uint8_t* data, size_t size);

private:
    std::vector<access_unit> encode_source(const uint8_t* pixels, int stride, int src_w, int src_h);
    std::vector<access_unit> drain();

    AVCodecContext* m_codec = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int m_width = 0;
    int m_height = 0;
    int64_t m_pts = 0;
    bool m_force_key = false;
};

#endif
