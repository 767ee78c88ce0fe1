#include "tools/decoder/c_video_decoder.h"

#include "log/log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

c_video_decoder::~c_video_decoder()
{
    close();
}

bool c_video_decoder::open()
{
    close();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec)
        return false;
    m_codec = avcodec_alloc_context3(codec);
    if (!m_codec)
        return false;
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    // A live screen: show each picture as soon as its unit is decoded. Frame
    // threads would hold pictures back, slice threads do not.
    m_codec->flags |= AV_CODEC_FLAG_LOW_DELAY;
    m_codec->thread_type = FF_THREAD_SLICE;
    m_codec->thread_count = k_codec_threads;
    m_codec->max_pixels = k_max_pixels;
    m_codec->opaque = this;
    if (m_on_band)
        m_codec->draw_horiz_band = &c_video_decoder::band_done;
    if (m_on_spare)
        m_codec->get_buffer2 = &c_video_decoder::get_buffer;
    m_spared_for = 0;
    if (avcodec_open2(m_codec, codec, nullptr) == 0) {
        m_picture = av_frame_alloc();
        m_received = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (m_picture && m_received && m_packet)
            return true;
    }
    close();
    return false;
}

int c_video_decoder::decode(const uint8_t* data, int length)
{
    if (!m_codec || !data || length <= 0)
        return -1;
    // The packet only borrows the bytes: no reference-counted buffer, so
    // libavcodec copies what it needs to keep.
    m_packet->data = const_cast<uint8_t*>(data);
    m_packet->size = length;
    int rc = avcodec_send_packet(m_codec, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (rc < 0) {
        check_refused(data, length);
        return -1;
    }

    bool produced = false;
    for (;;) {
        // Receiving clears the frame it is given, so the kept picture is
        // only replaced once a new one has really arrived.
        rc = avcodec_receive_frame(m_codec, m_received);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0) {
            check_refused(data, length);
            return -1;
        }
        // Should one unit yield several pictures, the newest one counts.
        av_frame_unref(m_picture);
        av_frame_move_ref(m_picture, m_received);
        produced = true;
        m_width = m_picture->width;
        m_height = m_picture->height;
    }
    m_has_picture = m_has_picture || produced;
    if (!produced)
        check_refused(data, length);
    return produced ? length : 0;
}

void c_video_decoder::band_done(AVCodecContext* codec, const AVFrame* picture, int*, int y, int type, int rows)
{
    // Fields of an interlaced picture come as separate passes: only whole
    // frames (type 3) are passed on.
    auto* self = static_cast<c_video_decoder*>(codec->opaque);
    if (type == 3 && self && picture && rows > 0)
        self->m_on_band(picture, y, rows);
}

int c_video_decoder::get_buffer(AVCodecContext* codec, AVFrame* picture, int flags)
{
    const int rc = avcodec_default_get_buffer2(codec, picture, flags);
    auto* self = static_cast<c_video_decoder*>(codec->opaque);
    const uint64_t like = (uint64_t(uint16_t(picture->width)) << 32) | (uint64_t(uint16_t(picture->height)) << 16) |
                          uint16_t(picture->format);
    if (rc < 0 || !self || self->m_spared_for == like)
        return rc;
    self->m_spared_for = like;
    // Taken with the same size and format, so from the same pool; a frame
    // given back after its memory was written is then a warm one.
    for (int i = 0; i < k_spare_pictures; ++i) {
        AVFrame* spare = av_frame_alloc();
        if (!spare)
            break;
        spare->format = picture->format;
        spare->width = picture->width;
        spare->height = picture->height;
        if (avcodec_default_get_buffer2(codec, spare, flags) < 0) {
            av_frame_free(&spare);
            break;
        }
        self->m_on_spare(spare);
    }
    return rc;
}

void c_video_decoder::check_refused(const uint8_t* data, int length)
{
    // Only units carrying a sequence parameter set can declare a new size;
    // a cheap scan for one keeps the parser off every other unit.
    bool has_sps = false;
    for (int i = 0; i + 3 < length && !has_sps; ++i)
        has_sps = data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 7;
    if (!has_sps)
        return;
    if (!m_parser) {
        m_parser = av_parser_init(AV_CODEC_ID_H264);
        m_parser_codec = avcodec_alloc_context3(nullptr);
        if (!m_parser || !m_parser_codec)
            return;
        m_parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }
    uint8_t* out = nullptr;
    int out_size = 0;
    av_parser_parse2(m_parser, m_parser_codec, &out, &out_size, data, length, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    const int w = m_parser->width > 0 ? m_parser->width : m_parser_codec->width;
    const int h = m_parser->height > 0 ? m_parser->height : m_parser_codec->height;
    if (w <= 0 || h <= 0 || int64_t(w) * h <= k_max_pixels)
        return;
    const uint64_t size = (uint64_t(uint32_t(w)) << 32) | uint32_t(h);
    if (m_refused.exchange(size) != size)
        LOG_ERROR("video stream of %dx%d refused: pictures above %dx%d (%lld pixels) are not decoded", w, h,
                  k_max_width, k_max_height, static_cast<long long>(k_max_pixels));
}

std::shared_ptr<const AVFrame> c_video_decoder::share_picture() const
{
    if (!m_has_picture)
        return nullptr;
    AVFrame* ref = av_frame_clone(m_picture);
    if (!ref)
        return nullptr;
    return std::shared_ptr<const AVFrame>(ref, [](const AVFrame* f) {
        AVFrame* p = const_cast<AVFrame*>(f);
        av_frame_free(&p);
    });
}

bool c_video_decoder::convert(uint8_t* dst, int dst_stride)
{
    if (!m_has_picture || !dst || m_width <= 0 || m_height <= 0 || dst_stride < m_width * 4)
        return false;
    return m_scaler.convert(m_picture, dst, dst_stride, m_width, m_height);
}

void c_video_decoder::close()
{
    av_parser_close(m_parser);
    m_parser = nullptr;
    avcodec_free_context(&m_parser_codec);
    av_packet_free(&m_packet);
    av_frame_free(&m_received);
    av_frame_free(&m_picture);
    avcodec_free_context(&m_codec);
    m_has_picture = false;
    m_width = 0;
    m_height = 0;
}
