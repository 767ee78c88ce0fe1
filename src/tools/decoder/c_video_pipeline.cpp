#include "tools/decoder/c_video_pipeline.h"

#include "log/log.h"
#include "tools/decoder/c_band_converter.h"
#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_latest_picture.h"
#include "tools/decoder/c_picture_scaler.h"
#include "tools/decoder/c_video_decoder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <utility>

c_video_pipeline::c_video_pipeline()
    : m_decoder(std::make_shared<c_video_decoder>())
    , m_assembler(std::make_shared<c_frame_assembler>(c_frame_assembler::k_default_capacity))
    , m_conversion(std::make_shared<c_conversion_buffer>())
    , m_latest(std::make_shared<c_latest_picture>())
    , m_scaler(std::make_shared<c_picture_scaler>())
    , m_bands(std::make_unique<c_band_converter>())
{
    m_decoder->set_band_handler([this](const AVFrame* picture, int y, int rows) { on_band(picture, y, rows); });
    m_decoder->set_spare_handler([this](AVFrame* spare) { m_bands->warm(spare); });
    m_open = m_decoder->open();
}

namespace {

// Slices (NAL units of type 1 or 5) in an Annex B access unit, counted up to 2.
int slices_in(const uint8_t* unit, int length)
{
    int count = 0;
    const uint8_t* end = unit + length;
    const uint8_t* from = unit;
    while (end - from > 3 && count < 2) {
        const auto* one = static_cast<const uint8_t*>(std::memchr(from + 2, 1, size_t(end - from - 3)));
        if (!one)
            break;
        if (one[-1] == 0 && one[-2] == 0) {
            const int type = one[1] & 0x1f;
            count += type == 1 || type == 5;
        }
        from = one - 1;
    }
    return count;
}

int64_t steady_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void c_video_pipeline::set_draw_ready_at(std::chrono::steady_clock::time_point when)
{
    m_draw_ready_ns.store(std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count());
}

void c_video_pipeline::remember_target(const AVFrame* picture, const QSize& source, const QSize& target)
{
    {
        std::lock_guard<std::mutex> g(m_band_lock);
        if (source == m_target_source && target == m_target)
            return;
        m_target_source = source;
        m_target = target;
    }
    // A new pair of sizes: the band thread makes its converter now, not
    // during the next picture.
    m_bands->prepare(picture, source, target);
}

void c_video_pipeline::on_band(const AVFrame* picture, int y, int rows)
{
    std::lock_guard<std::mutex> g(m_band_lock);
    if (y == 0) {
        // A new picture. Converted now only if it is the one the GUI will
        // show next, at the size the GUI wants for pictures of its size.
        if (m_banding)
            m_bands->abandon();
        m_banding = false;
        m_band_rows = 0;
        // The picture is still at its coded size (whole macroblocks); only
        // the usual crop, at the right and bottom, is followed.
        const QSize own(picture->width - int(picture->crop_right), picture->height - int(picture->crop_bottom));
        const bool wanted = m_one_slice && picture->crop_left == 0 && picture->crop_top == 0 &&
                            own == m_target_source && !m_target.isEmpty() && !m_latest->has_pending() &&
                            steady_ns() + m_decode_ns.load() >= m_draw_ready_ns.load();
        if (!wanted)
            return;
        c_conversion_buffer::picture out = m_conversion->acquire(m_target.width(), m_target.height());
        m_banding = m_bands->begin(picture, own, std::move(out), m_target);
        m_band_pixels = picture->data[0];
        m_band_own = own;
    }
    if (!m_banding)
        return;
    if (y > m_band_rows) {
        // A band below one not yet given (slices decoded out of order):
        // the picture is left to the GUI's conversion.
        m_bands->abandon();
        m_banding = false;
        return;
    }
    m_band_rows = std::max(m_band_rows, y + rows);
    m_bands->rows_ready(m_band_rows);
}


QImage c_video_pipeline::finish_bands(const AVFrame* decoded)
{
    const uint8_t* pixels = nullptr;
    QSize own;
    {
        std::lock_guard<std::mutex> g(m_band_lock);
        if (!std::exchange(m_banding, false))
            return QImage();
        pixels = m_band_pixels;
        own = m_band_own;
    }
    // Only the picture the bands were of, and only if the decoder did not
    // mend it afterwards: concealment rewrites rows already given.
    const bool same = decoded && decoded->data[0] == pixels && QSize(decoded->width, decoded->height) == own &&
                      decoded->decode_error_flags == 0 && !(decoded->flags & AV_FRAME_FLAG_CORRUPT);
    if (!same) {
        m_bands->abandon();
        return QImage();
    }
    return m_bands->finish();
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
    {
        // Only a picture of one slice is followed: its rows come in order
        // from one thread, each final once given. Slices decoded on several
        // threads give rows in any order, and rows at their edges are
        // filtered again after all are decoded.
        std::lock_guard<std::mutex> g(m_band_lock);
        m_one_slice = slices_in(unit, unit_length) == 1;
    }
    const int64_t started = steady_ns();
    const int decoded = m_decoder->decode(unit, unit_length);
    m_decode_ns.store(steady_ns() - started);
    // A picture followed while it was decoded is finished below or let go
    // on every other way out.
    QImage converted = finish_bands(decoded >= 1 ? m_decoder->picture() : nullptr);
    if (decoded < 1) {
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
    if (!converted.isNull()) {
        ++m_converted_early;
        ++m_converted;
    }
    {
        // Kept for a screenshot at the picture's own size; shared, not copied.
        std::lock_guard<std::mutex> g(m_last_frame_lock);
        m_last_decoded = picture;
    }
    m_decoded_size.store((uint64_t(uint32_t(w)) << 32) | uint32_t(h));
    ++m_published;
    return m_latest->put(std::move(picture), std::move(converted));
}

QImage c_video_pipeline::take_picture(const target_for& target, QSize* source)
{
    c_latest_picture::handed h = m_latest->take();
    if (!h.picture)
        return QImage();
    m_last_taken = h.picture;
    if (!h.converted.isNull()) {
        const QSize own(h.picture->width, h.picture->height);
        if (h.converted.size() == target_size(own, target)) {
            if (source)
                *source = own;
            return h.converted;
        }
    }
    // Let go of the early conversion first, so its memory can take this one.
    h.converted = QImage();
    return convert(h.picture, target, source);
}

QSize c_video_pipeline::target_size(const QSize& own, const target_for& target)
{
    QSize size = target ? target(own) : QSize();
    if (size.isEmpty())
        size = own;
    // The screen bounds what is worth converting; the limit bounds memory.
    return size.boundedTo(QSize(c_conversion_buffer::k_max_width, c_conversion_buffer::k_max_height));
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
    const QSize size = target_size(own, target);
    remember_target(picture.get(), own, size);
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
