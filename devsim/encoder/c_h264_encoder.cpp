#include "encoder/c_h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <string>

c_h264_encoder::~c_h264_encoder()
{
    close();
}

bool c_h264_encoder::open(int width, int height, int fps)
{
    return open(width, height, fps, options());
}

bool c_h264_encoder::open(int width, int height, int fps, const options& opt)
{
    close();
    if (width <= 0 || height <= 0 || (width | height) & 1 || fps <= 0)
        return false;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return false;
    m_codec = avcodec_alloc_context3(codec);
    if (!m_codec)
        return false;
    m_codec->width = width;
    m_codec->height = height;
    m_codec->time_base = AVRational{1, fps};
    m_codec->framerate = AVRational{fps, 1};
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->gop_size = opt.keyframe_interval > 0 ? opt.keyframe_interval : 2 * fps;
    m_codec->max_b_frames = 0;
    m_codec->thread_count = opt.threads > 0 ? opt.threads : 1;
    if (opt.bitrate_kbps > 0)
        m_codec->bit_rate = int64_t(opt.bitrate_kbps) * 1000;
    av_opt_set(m_codec->priv_data, "preset", "ultrafast", 0);
    av_opt_set(m_codec->priv_data, "tune", "zerolatency", 0);
    av_opt_set(m_codec->priv_data, "forced-idr", "1", 0);
    if (opt.bitrate_kbps <= 0)
        av_opt_set(m_codec->priv_data, "crf", std::to_string(opt.crf).c_str(), 0);

    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_frame || !m_packet || avcodec_open2(m_codec, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = width;
    m_frame->height = height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        close();
        return false;
    }
    m_width = width;
    m_height = height;
    m_pts = 0;
    m_force_key = false;
    return true;
}

void c_h264_encoder::close()
{
    if (m_scaler) {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
    }
    av_packet_free(&m_packet);
    av_frame_free(&m_frame);
    avcodec_free_context(&m_codec);
    m_width = 0;
    m_height = 0;
}

std::vector<c_h264_encoder::access_unit> c_h264_encoder::encode(const QImage& picture)
{
    if (picture.isNull())
        return {};
    const QImage::Format f = picture.format();
    if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied)
        return encode_source(picture.constBits(), int(picture.bytesPerLine()), picture.width(), picture.height());
    const QImage converted = picture.convertToFormat(QImage::Format_RGB32);
    return encode_source(converted.constBits(), int(converted.bytesPerLine()), converted.width(), converted.height());
}

std::vector<c_h264_encoder::access_unit> c_h264_encoder::encode_bgra(const uint8_t* pixels, int stride)
{
    return encode_source(pixels, stride, m_width, m_height);
}

std::vector<c_h264_encoder::access_unit> c_h264_encoder::encode_source(const uint8_t* pixels, int stride, int src_w,
                                                                       int src_h)
{
    if (!m_codec || !pixels || src_w <= 0 || src_h <= 0)
        return {};
    m_scaler = sws_getCachedContext(m_scaler, src_w, src_h, AV_PIX_FMT_BGRA, m_width, m_height, AV_PIX_FMT_YUV420P,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_scaler || av_frame_make_writable(m_frame) < 0)
        return {};
    const uint8_t* src_planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int src_strides[4] = {stride, 0, 0, 0};
    sws_scale(m_scaler, src_planes, src_strides, 0, src_h, m_frame->data, m_frame->linesize);
    m_frame->pts = m_pts++;
    m_frame->pict_type = m_force_key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m_force_key = false;
    if (avcodec_send_frame(m_codec, m_frame) < 0)
        return {};
    return drain();
}

std::vector<c_h264_encoder::access_unit> c_h264_encoder::flush()
{
    if (!m_codec)
        return {};
    avcodec_send_frame(m_codec, nullptr);
    return drain();
}

std::vector<c_h264_encoder::access_unit> c_h264_encoder::drain()
{
    std::vector<access_unit> out;
    while (avcodec_receive_packet(m_codec, m_packet) == 0) {
        out.emplace_back(m_packet->data, m_packet->data + m_packet->size);
        av_packet_unref(m_packet);
    }
    return out;
}

std::vector<std::vector<uint8_t>> c_h264_encoder::split_nal_units(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> nals;
    size_t i = 0;
    size_t start = SIZE_MAX;
    auto finish = [&](size_t end) {
        // Zero bytes before a start code belong to the next one.
        while (end > start && data[end - 1] == 0)
            --end;
        if (end > start)
            nals.emplace_back(data + start, data + end);
    };
    while (i + 3 <= size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX)
                finish(i);
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX)
        finish(size);
    return nals;
}
