#include "tools/decoder/c_video_pipeline.h"

#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_latest_picture.h"
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
{
    m_open = m_decoder->open();
}

c_video_pipeline::~c_video_pipeline()
{
    av_frame_free(&m_last_frame);
}

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
    if (m_decoder->decode(unit, unit_length) < 1)
        return false;
    if (const AVFrame* decoded = m_decoder->picture()) {
        // Only a reference: the buffers are shared, nothing is copied.
        std::lock_guard<std::mutex> g(m_last_frame_lock);
        if (!m_last_frame)
            m_last_frame = av_frame_alloc();
        if (m_last_frame) {
            av_frame_unref(m_last_frame);
            av_frame_ref(m_last_frame, decoded);
        }
    }

    const int w = m_decoder->picture_width();
    const int h = m_decoder->picture_height();
    if (c_conversion_buffer::fits(w, h)) {
        // The picture still waiting for the GUI is out of date now; dropping
        // it first lets its memory take the new one.
        m_latest->drop_pending();
    }
    c_conversion_buffer::picture pic = m_conversion->acquire(w, h);
    if (pic.image.isNull())
        return false;
    if (!m_decoder->convert(pic.pixels, pic.stride))
        return false;
    m_decoded_size.store((uint64_t(uint32_t(w)) << 32) | uint32_t(h));
    ++m_published;
    return m_latest->put(pic.image);
}

QImage c_video_pipeline::take_picture()
{
    return m_latest->take();
}

QSize c_video_pipeline::decoded_size() const
{
    const uint64_t v = m_decoded_size.load();
    return QSize(int(v >> 32), int(v & 0xffffffffu));
}

QImage c_video_pipeline::snapshot() const
{
    AVFrame* frame = nullptr;
    {
        std::lock_guard<std::mutex> g(m_last_frame_lock);
        if (m_last_frame && m_last_frame->width > 0)
            frame = av_frame_clone(m_last_frame);
    }
    if (!frame)
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
    av_frame_free(&frame);
    return ok ? image : QImage();
}
