#include "tools/decoder/c_video_pipeline.h"

#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_latest_picture.h"
#include "tools/decoder/c_video_decoder.h"

c_video_pipeline::c_video_pipeline()
    : m_decoder(std::make_shared<c_video_decoder>())
    , m_assembler(std::make_shared<c_frame_assembler>(c_frame_assembler::k_default_capacity))
    , m_conversion(std::make_shared<c_conversion_buffer>())
    , m_latest(std::make_shared<c_latest_picture>())
{
    m_open = m_decoder->open();
}

c_video_pipeline::~c_video_pipeline() = default;

bool c_video_pipeline::on_video_data(const uint8_t* body, int length)
{
    int unit_length = 0;
    const uint8_t* unit = m_assembler->add(body, length, &unit_length);
    if (!unit)
        return false;
    if (m_decoder->decode(unit, unit_length) < 1)
        return false;

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
