// Benchmark 2: what one render of a 1920 x 1080 picture costs the GUI thread
// of a real main window (offscreen): fit, scale, canvas, pixmap, label, for a
// 1280 x 720 and a 2560 x 1440 display area. Pictures are decoded frames of
// the benchmark stream, two of them alternating so nothing can be reused from
// the previous render. The stream runs at 60 pictures/s, so a render must
// stay below 16.7 ms for the viewer to keep up while the receive thread
// decodes on the other core. The reference, timed alternately in the same
// run, renders the same pictures the plain way: a new image for every step.
#include <QApplication>
#include <QLabel>
#include <QPainter>

#include "common/bench_figures.h"
#include "common/bench_stream.h"
#include "common/h264video_session.h"
#include "common/reference_decoder.h"

namespace {

// The reference: the render done the plain way, every step a new image
// (scale, then a canvas of the whole area filled and drawn on, then a
// pixmap), onto a label of its own.
void plain_render(QLabel& label, const QImage& picture, const QSize& area, const QColor& background)
{
    const QSize scaled_size = picture.size().scaled(area, Qt::KeepAspectRatio);
    const QImage scaled = picture.scaled(scaled_size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QImage canvas(area, scaled.format());
    canvas.fill(background);
    QPainter painter(&canvas);
    painter.drawImage(QPoint((area.width() - scaled.width()) / 2, (area.height() - scaled.height()) / 2), scaled);
    painter.end();
    label.setPixmap(QPixmap::fromImage(canvas));
}

const char* const k_name = "2 render 1080p picture";
const double k_budget_ms = 1000.0 / 60.0;

QImage decoded_picture(bench::reference_decoder& dec, const std::vector<uint8_t>& unit, int w, int h)
{
    if (!dec.decode(unit.data(), int(unit.size())))
        return QImage();
    return QImage(dec.pixels(), w, h, w * 4, QImage::Format_RGB32).copy();
}

}  // namespace

int main()
{
    test_application();
    const int renders = 300 * bench::rounds(1);
    bench::note("[%s] decoding two pictures ...", k_name);
    const bench::test_stream st = bench::make_stream(1920, 1080, 12, 60, nullptr);
    bench::reference_decoder dec(1, 1);
    if (st.units.size() < 12 || !dec.open())
        return 1;
    QImage pictures[2];
    for (size_t i = 0; i < st.units.size(); ++i) {
        QImage p = decoded_picture(dec, st.units[i], st.width, st.height);
        if (i == 5)
            pictures[0] = p;
        if (i == 11)
            pictures[1] = p;
    }
    if (pictures[0].isNull() || pictures[1].isNull())
        return 1;

    H264VideoSession s(1);
    if (!s.video_connected)
        return 1;
    H264Video& w = *s.window;
    w.show();
    pump_for(50);

    for (const QSize area : {QSize(1280, 720), QSize(2560, 1440)}) {
        w.resize(w.ui.toolBar->width() + area.width(), area.height());
        pump_for(50);
        if (w.displayArea() != area) {
            bench::note("[%s] the window gives a %dx%d area instead of %dx%d", k_name, w.displayArea().width(),
                        w.displayArea().height(), area.width(), area.height());
            return 1;
        }
        QLabel plain;
        plain.resize(area);
        std::vector<double> ms, ref;
        for (int i = 0; i < renders + 20; ++i) {
            auto t0 = bench::clock::now();
            w.on_slot_decode_one_frame(pictures[i % 2]);
            const double t = bench::ms_between(t0, bench::clock::now());
            QCoreApplication::processEvents();  // paint what was set, as the event loop would
            t0 = bench::clock::now();
            plain_render(plain, pictures[i % 2], area, Qt::black);
            const double r = bench::ms_between(t0, bench::clock::now());
            if (i >= 20) {  // the first renders size the label and warm the caches
                ms.push_back(t);
                ref.push_back(r);
            }
        }
        if (w.ui.label->pixmap().size() != area) {
            bench::note("[%s] the label shows %dx%d", k_name, w.ui.label->pixmap().width(),
                        w.ui.label->pixmap().height());
            return 1;
        }
        const double p50 = bench::percentile(ms, 50), p99 = bench::percentile(ms, 99);
        const std::string a = std::to_string(area.width()) + "x" + std::to_string(area.height());
        const double r50 = bench::percentile(ref, 50), r99 = bench::percentile(ref, 99);
        bench::row(k_name, "render into " + a + ", median ms", bench::fmt(p50, 2), bench::fmt(r50, 2),
                   bench::fmt(p50 / r50, 2), "< " + bench::fmt(k_budget_ms, 1) + " ms",
                   bench::yes_no(p50 < k_budget_ms));
        bench::row(k_name, "render into " + a + ", 99th percentile ms (max " +
                               bench::fmt(bench::percentile(ms, 100), 1) + ")",
                   bench::fmt(p99, 2), bench::fmt(r99, 2), bench::fmt(p99 / r99, 2),
                   "< " + bench::fmt(k_budget_ms, 1) + " ms", bench::yes_no(p99 < k_budget_ms));
    }
    return 0;
}
