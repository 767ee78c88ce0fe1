#include "tools/decoder/c_video_pipeline.h"

#include "log/log.h"
#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_latest_picture.h"
#include "tools/decoder/c_picture_scaler.h"
#include "tools/decoder/c_video_decoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

c_video_pipeline::c_video_pipeline()
    : m_decoder(std::make_shared<c_video_decoder>())
    , m_assembler(std::make_shared<c_frame_assembler>(c_frame_assembler::k_default_capacity))
    , m_conversion(std::make_shared<c_conversion_buffer>())
    , m_latest(std::make_shared<c_latest_picture>())
    , m_scaler(std::make_shared<c_picture_scaler>())
{
    m_open = m_decoder->open();
}

c_video_pipeline::~c_video_pipeline() = default;

void c_video_pipeline::set_unit_tap(unit_tap tap)
{
    std::lock_guard<std::mutex> g(m_tap_lock);
    m_tap = std::move(tap);
}

bool c_video_pipeline::on_video_data(const uint8_t* body, int length)
{
    int unit_length = 0;
    const uint8_t* unit = m_assembler->add(body, length, &unit_length);
    if (!unit)
        return false;
    {
        std::lock_guard<std::mutex> g(m_tap_lock);
        if (m_tap)
            m_tap(unit, unit_length, std::chrono::steady_clock::now());
    }
    if (m_decoder->decode(unit, unit_length) < 1) {
        const uint64_t refused =
            (uint64_t(uint32_t(m_decoder->refused_width())) << 32) | uint32_t(m_decoder->refused_height());
        if (refused != m_reported_refused) {
            m_reported_refused = refused;
            if (refused && m_on_refused)
                m_on_refused(refused_size());
        }
        return false;
    }

    const int w = m_decoder->picture_width();
    const int h = m_decoder->picture_height();
    if (!c_conversion_buffer::fits(w, h)) {
        LOG_ERROR("picture %dx%d exceeds the largest picture shown, %dx%d", w, h, c_conversion_buffer::k_max_width,
                  c_conversion_buffer::k_max_height);
        return false;
    }
    std::shared_ptr<const AVFrame> picture = m_decoder->share_picture();
    if (!picture)
        return false;
    {
        // Kept for a screenshot at the picture's own size; shared, not copied.
        std::lock_guard<std::mutex> g(m_last_frame_lock);
        m_last_decoded = picture;
    }
    m_decoded_size.store((uint64_t(uint32_t(w)) << 32) | uint32_t(h));
    ++m_published;
    return m_latest->put(std::move(picture));
}

QImage c_video_pipeline::take_picture(const target_for& target, QSize* source)
{
    std::shared_ptr<const AVFrame> picture = m_latest->take();
    if (!picture)
        return QImage();
    m_last_taken = picture;
    return convert(picture, target, source);
}

QImage c_video_pipeline::convert_again(const target_for& target, QSize* source)
{
    return m_last_taken ? convert(m_last_taken, target, source) : QImage();
}

QImage c_video_pipeline::convert(const std::shared_ptr<const AVFrame>& picture, const target_for& target,
                                 QSize* source)
{
    const QSize own(picture->width, picture->height);
    if (source)
        *source = own;
    QSize size = target ? target(own) : QSize();
    if (size.isEmpty())
        size = own;
    // The screen bounds what is worth converting; the limit bounds memory.
    size = size.boundedTo(QSize(c_conversion_buffer::k_max_width, c_conversion_buffer::k_max_height));
    c_conversion_buffer::picture out = m_conversion->acquire(size.width(), size.height());
    if (out.image.isNull())
        return QImage();
    if (!m_scaler->convert(picture.get(), out.pixels, out.stride, size.width(), size.height()))
        return QImage();
    ++m_converted;
    return out.image;
}

bool c_video_pipeline::has_picture() const
{
    return m_latest->has_pending();
}

QSize c_video_pipeline::decoded_size() const
{
    const uint64_t v = m_decoded_size.load();
    return QSize(int(v >> 32), int(v & 0xffffffffu));
}

QImage c_video_pipeline::snapshot() const
{
    std::shared_ptr<const AVFrame> frame;
    {
        std::lock_guard<std::mutex> g(m_last_frame_lock);
        frame = m_last_decoded;
    }
    if (!frame || frame->width <= 0)
        return QImage();
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    SwsContext* sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                     frame->height, AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                     nullptr, nullptr, nullptr);
    bool ok = false;
    if (sws && !image.isNull()) {
        uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
        ok = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides) == frame->height;
    }
    sws_freeContext(sws);
    return ok ? image : QImage();
}

QSize c_video_pipeline::refused_size() const
{
    return QSize(m_decoder->refused_width(), m_decoder->refused_height());

}
