#include "tools/decoder/c_picture_scaler.h"

#include "log/log.h"

#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
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

bool c_picture_scaler::prepare(const AVFrame* picture, int width, int height)
{
    if (m_context && picture->width == m_src_w && picture->height == m_src_h && picture->format == m_src_format &&
        width == m_dst_w && height == m_dst_h)
        return true;
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
        // Touched now, so the first picture does not fault its pages in.
        for (int p = 0; m_planes && p < 4 && m_planes->buf[p]; ++p)
            std::memset(m_planes->buf[p]->data, 0, m_planes->buf[p]->size);
        if (m_planes) {
            m_context = sws_getContext(picture->width, picture->height, src, width, height, src, k_scaled_filter,
                                       nullptr, nullptr, nullptr);
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
    return true;
}

bool c_picture_scaler::convert(const AVFrame* picture, uint8_t* dst, int dst_stride, int width, int height)
{
    return picture && convert_rows(picture, 0, picture->height, dst, dst_stride, width, height);
}

bool c_picture_scaler::convert_rows(const AVFrame* picture, int y, int rows, uint8_t* dst, int dst_stride, int width,
                                    int height)
{
    if (!picture || !dst || width <= 0 || height <= 0 || dst_stride < width * 4 || picture->width <= 0 ||
        picture->height <= 0 || y < 0 || rows <= 0 || y + rows > picture->height)
        return false;
    if (y == 0) {
        if (!prepare(picture, width, height))
            return false;
        m_fed = 0;
        m_written = 0;
        m_converted = 0;
        m_bgra_written = 0;
    }
    // libswscale keeps the lines it still needs between calls, so bands must
    // follow one another exactly, on whole chroma rows of a 4:2:0 picture.
    const bool last = y + rows == picture->height;
    if (!m_context || y != m_fed || (!last && (rows & 1)))
        return false;
    m_fed = y + rows;

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(picture->format));
    if (!desc)
        return false;
    const uint8_t* band[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int p = 0; p < 4 && picture->data[p]; ++p) {
        const int row = p == 1 || p == 2 ? y >> desc->log2_chroma_h : y;
        band[p] = picture->data[p] + ptrdiff_t(row) * picture->linesize[p];
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dst_stride, 0, 0, 0};
    if (!m_to_bgra) {
        m_written += sws_scale(m_context, band, picture->linesize, y, rows, planes, strides);
        return !last || m_written == height;
    }
    m_written += sws_scale(m_context, band, picture->linesize, y, rows, m_planes->data, m_planes->linesize);
    if (last && m_written != height)
        return false;
    // The scaled rows are final once written: they go on to BGRA at once, so
    // that after the last band only its own rows are left. A 4:2:0 chroma
    // row serves two rows, so a band ends on an even row but the last.
    const int to = last ? height : (m_written & ~1);
    if (to <= m_converted)
        return true;
    const uint8_t* scaled[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int p = 0; p < 4 && m_planes->data[p]; ++p) {
        const int row = p == 1 || p == 2 ? m_converted >> desc->log2_chroma_h : m_converted;
        scaled[p] = m_planes->data[p] + ptrdiff_t(row) * m_planes->linesize[p];
    }
    // Rows out may trail rows in when libswscale filters across them (an
    // odd height leaves its plain converter); all are out after the last.
    m_bgra_written += sws_scale(m_to_bgra, scaled, m_planes->linesize, m_converted, to - m_converted, planes, strides);
    m_converted = to;
    return !last || m_bgra_written == height;
}
