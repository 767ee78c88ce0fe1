// Benchmark 2: what bringing one decoded 1920 x 1080 picture to the screen
// costs the GUI thread, for a 1280 x 720 and a 2560 x 1440 display area:
// the viewer's path (one libswscale pass from the decoder's YUV to the
// displayed size, bilinear, into the memory the picture view paints, then
// the view's paint) against the plain path from the same decoded picture
// (converted to BGRA at full size, scaled into a new image, a new canvas
// filled and drawn on, a pixmap set on a label and painted). Two pictures
// alternate so nothing can be reused from the previous one. The stream runs
// at 60 pictures/s, so this must stay below 16.7 ms while the receive thread
// decodes on the other core. A third row times the viewer's path with
// nearest-pixel scaling instead of bilinear: what the smooth scaling costs.
#include <QApplication>
#include <QLabel>
#include <QPainter>

#include "common/bench_figures.h"
#include "common/bench_stream.h"
#include "common/h264video_session.h"
#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_picture_scaler.h"
#include "tools/decoder/c_video_decoder.h"
#include "view/c_picture_view.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

const char* const k_name = "2 render 1080p picture";
const double k_budget_ms = 1000.0 / 60.0;

// The plain path: full-size conversion, then scale, canvas, pixmap, label.
struct plain_path
{
    SwsContext* sws = nullptr;
    QImage full;
    ~plain_path() { sws_freeContext(sws); }

    void render(QLabel& label, const AVFrame* f, const QSize& area)
    {
        if (!sws) {
            sws = sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                 AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
            full = QImage(f->width, f->height + 1, QImage::Format_RGB32);
        }
        uint8_t* planes[4] = {full.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {int(full.bytesPerLine()), 0, 0, 0};
        sws_scale(sws, f->data, f->linesize, 0, f->height, planes, strides);
        const QImage picture(full.constBits(), f->width, f->height, int(full.bytesPerLine()), QImage::Format_RGB32);
        const QSize scaled_size = picture.size().scaled(area, Qt::KeepAspectRatio);
        const QImage scaled = picture.scaled(scaled_size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QImage canvas(area, scaled.format());
        canvas.fill(Qt::black);
        QPainter painter(&canvas);
        painter.drawImage(QPoint((area.width() - scaled.width()) / 2, (area.height() - scaled.height()) / 2),
                          scaled);
        painter.end();
        label.setPixmap(QPixmap::fromImage(canvas));
        label.repaint();
    }
};

// The viewer's path with a given scaler.
template <class Scale>
void viewer_render(c_picture_view& view, c_conversion_buffer& buf, const AVFrame* f, Scale&& scale)
{
    const QSize source(f->width, f->height);
    const QSize target = view.target_size(source);
    view.release_picture();
    c_conversion_buffer::picture out = buf.acquire(target.width(), target.height());
    scale(f, out.pixels, out.stride, target.width(), target.height());
    view.show_picture(out.image, source);
    view.viewport()->repaint();
}

}  // namespace

int main()
{
    test_application();
    const int renders = 300 * bench::rounds(1);
    bench::note("[%s] decoding two pictures ...", k_name);
    const bench::test_stream st = bench::make_stream(1920, 1080, 12, 60, nullptr);
    c_video_decoder dec;
    if (st.units.size() < 12 || !dec.open())
        return 1;
    std::shared_ptr<const AVFrame> pictures[2];
    for (size_t i = 0; i < st.units.size(); ++i) {
        if (dec.decode(st.units[i].data(), int(st.units[i].size())) < 1)
            return 1;
        if (i == 5)
            pictures[0] = dec.share_picture();
        if (i == 11)
            pictures[1] = dec.share_picture();
    }
    if (!pictures[0] || !pictures[1])
        return 1;

    for (const QSize area : {QSize(1280, 720), QSize(2560, 1440)}) {
        c_picture_view view;
        view.resize(area);
        view.show();
        QLabel plain;
        plain.resize(area);
        plain.show();
        QCoreApplication::processEvents();
        c_conversion_buffer buf;
        c_picture_scaler bilinear;
        SwsContext* nearest = nullptr;
        plain_path reference;
        std::vector<double> ms, ref, near_ms;
        for (int i = 0; i < renders + 20; ++i) {
            const AVFrame* f = pictures[i % 2].get();
            auto t0 = bench::clock::now();
            viewer_render(view, buf, f, [&](const AVFrame* p, uint8_t* d, int s, int w, int h) {
                bilinear.convert(p, d, s, w, h);
            });
            const double t = bench::ms_between(t0, bench::clock::now());
            t0 = bench::clock::now();
            reference.render(plain, f, area);
            const double r = bench::ms_between(t0, bench::clock::now());
            t0 = bench::clock::now();
            viewer_render(view, buf, f, [&](const AVFrame* p, uint8_t* d, int s, int w, int h) {
                nearest = sws_getCachedContext(nearest, p->width, p->height, AVPixelFormat(p->format), w, h,
                                               AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr);
                uint8_t* planes[4] = {d, nullptr, nullptr, nullptr};
                int strides[4] = {s, 0, 0, 0};
                sws_scale(nearest, p->data, p->linesize, 0, p->height, planes, strides);
            });
            const double n = bench::ms_between(t0, bench::clock::now());
            if (i >= 20) {  // the first renders size the buffers and warm the caches
                ms.push_back(t);
                ref.push_back(r);
                near_ms.push_back(n);
            }
        }
        sws_freeContext(nearest);
        if (view.picture_rect().size() != QSize(1920, 1080).scaled(area, Qt::KeepAspectRatio)) {
            bench::note("[%s] the view shows %dx%d", k_name, view.picture_rect().width(),
                        view.picture_rect().height());
            return 1;
        }
        const double p50 = bench::percentile(ms, 50), p99 = bench::percentile(ms, 99);
        const std::string a = std::to_string(area.width()) + "x" + std::to_string(area.height());
        const double r50 = bench::percentile(ref, 50), r99 = bench::percentile(ref, 99);
        const double n50 = bench::percentile(near_ms, 50);
        bench::row(k_name, "render into " + a + ", median ms", bench::fmt(p50, 2), bench::fmt(r50, 2),
                   bench::fmt(p50 / r50, 2), "< " + bench::fmt(k_budget_ms, 1) + " ms",
                   bench::yes_no(p50 < k_budget_ms));
        bench::row(k_name, "render into " + a + ", 99th percentile ms (max " +
                               bench::fmt(bench::percentile(ms, 100), 1) + ")",
                   bench::fmt(p99, 2), bench::fmt(r99, 2), bench::fmt(p99 / r99, 2),
                   "< " + bench::fmt(k_budget_ms, 1) + " ms", bench::yes_no(p99 < k_budget_ms));
        bench::row(k_name, "render into " + a + ", median ms, bilinear (reference: the same with nearest pixel)",
                   bench::fmt(p50, 2), bench::fmt(n50, 2), bench::fmt(p50 / n50, 2));
    }
    return 0;
}
