#include "tools/decoder/c_picture_scaler.h"

#include "log/log.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

static_assert(c_picture_scaler::k_scaled_filter == SWS_BILINEAR, "filter constant");
static_assert(c_picture_scaler::k_unscaled_filter == SWS_FAST_BILINEAR, "filter constant");

c_picture_scaler::~c_picture_scaler()
{
    reset();
}

void c_picture_scaler::reset()
{
    sws_freeContext(m_context);
    sws_freeContext(m_to_bgra);
    av_frame_free(&m_planes);
    m_context = nullptr;
    m_to_bgra = nullptr;
}

bool c_picture_scaler::convert(const AVFrame* picture, uint8_t* dst, int dst_stride, int width, int height)
{
    if (!picture || !dst || width <= 0 || height <= 0 || dst_stride < width * 4 || picture->width <= 0 ||
        picture->height <= 0)
        return false;
    if (!m_context || picture->width != m_src_w || picture->height != m_src_h || picture->format != m_src_format ||
        width != m_dst_w || height != m_dst_h) {
        reset();
        m_src_w = picture->width;
        m_src_h = picture->height;
        m_src_format = picture->format;
        m_dst_w = width;
        m_dst_h = height;
        ++m_made;
        const AVPixelFormat src = AVPixelFormat(picture->format);
        const bool same = picture->width == width && picture->height == height;
        const bool planar420 = src == AV_PIX_FMT_YUV420P || src == AV_PIX_FMT_YUVJ420P;
        if (!same && planar420) {
            m_planes = av_frame_alloc();
            if (m_planes) {
                m_planes->format = src;
                m_planes->width = width;
                m_planes->height = height;
                if (av_frame_get_buffer(m_planes, 0) < 0)
                    av_frame_free(&m_planes);
            }
            if (m_planes) {
                m_context = sws_getContext(picture->width, picture->height, src, width, height, src,
                                           k_scaled_filter, nullptr, nullptr, nullptr);
                m_to_bgra = sws_getContext(width, height, src, width, height, AV_PIX_FMT_BGRA, k_unscaled_filter,
                                           nullptr, nullptr, nullptr);
            }
        } else {
            m_context = sws_getContext(picture->width, picture->height, src, width, height, AV_PIX_FMT_BGRA,
                                       same ? k_unscaled_filter : k_scaled_filter, nullptr, nullptr, nullptr);
        }
        if (!m_context || (m_planes && !m_to_bgra)) {
            LOG_ERROR("no converter for picture %dx%d format %d to %dx%d", picture->width, picture->height,
                      picture->format, width, height);
            reset();
            return false;
        }
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    if (!m_to_bgra)
        return sws_scale(m_context, picture->data, picture->linesize, 0, picture->height, planes, strides) == height;
    if (sws_scale(m_context, picture->data, picture->linesize, 0, picture->height, m_planes->data,
                  m_planes->linesize) != height)
        return false;
    return sws_scale(m_to_bgra, m_planes->data, m_planes->linesize, 0, height, planes, strides) == height;
}
