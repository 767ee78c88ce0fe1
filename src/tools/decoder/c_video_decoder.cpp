#include "tools/decoder/c_video_decoder.h"

#include "log/log.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
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
    if (rc < 0)
        return -1;

    bool produced = false;
    for (;;) {
        // Receiving clears the frame it is given, so the kept picture is
        // only replaced once a new one has really arrived.
        rc = avcodec_receive_frame(m_codec, m_received);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            break;
        if (rc < 0)
            return -1;
        // Should one unit yield several pictures, the newest one counts.
        av_frame_unref(m_picture);
        av_frame_move_ref(m_picture, m_received);
        produced = true;
        m_width = m_picture->width;
        m_height = m_picture->height;
    }
    m_has_picture = m_has_picture || produced;
    return produced ? length : 0;
}

bool c_video_decoder::convert(uint8_t* dst, int dst_stride)
{
    if (!m_has_picture || !dst || m_width <= 0 || m_height <= 0 || dst_stride < m_width * 4)
        return false;
    m_scaler = sws_getCachedContext(m_scaler, m_width, m_height, AVPixelFormat(m_picture->format), m_width,
                                    m_height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler) {
        LOG_ERROR("no converter for picture %dx%d format %d", m_width, m_height, m_picture->format);
        return false;
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    return sws_scale(m_scaler, m_picture->data, m_picture->linesize, 0, m_height, planes, strides) == m_height;
}

void c_video_decoder::close()
{
    if (m_scaler) {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
    }
    av_packet_free(&m_packet);
    av_frame_free(&m_received);
    av_frame_free(&m_picture);
    avcodec_free_context(&m_codec);
    m_has_picture = false;
    m_width = 0;
    m_height = 0;
}
