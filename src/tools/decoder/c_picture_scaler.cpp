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
    sws_freeContext(m_context);
}

bool c_picture_scaler::convert(const AVFrame* picture, uint8_t* dst, int dst_stride, int width, int height)
{
    if (!picture || !dst || width <= 0 || height <= 0 || dst_stride < width * 4 || picture->width <= 0 ||
        picture->height <= 0)
        return false;
    if (!m_context || picture->width != m_src_w || picture->height != m_src_h || picture->format != m_src_format ||
        width != m_dst_w || height != m_dst_h) {
        sws_freeContext(m_context);
        const bool same = picture->width == width && picture->height == height;
        m_context = sws_getContext(picture->width, picture->height, AVPixelFormat(picture->format), width, height,
                                   AV_PIX_FMT_BGRA, same ? k_unscaled_filter : k_scaled_filter, nullptr, nullptr,
                                   nullptr);
        m_src_w = picture->width;
        m_src_h = picture->height;
        m_src_format = picture->format;
        m_dst_w = width;
        m_dst_h = height;
        ++m_made;
        if (!m_context) {
            LOG_ERROR("no converter for picture %dx%d format %d to %dx%d", picture->width, picture->height,
                      picture->format, width, height);
            return false;
        }
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    return sws_scale(m_context, picture->data, picture->linesize, 0, picture->height, planes, strides) == height;
}
