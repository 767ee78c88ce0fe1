#pragma once
// The benchmarks' H.264 stream: the test device's synthetic desktop scrolling
// a few pixels every picture (so every macroblock changes, as when a window is
// dragged), encoded by the test encoder the way the device streams it, and
// cut into type-6 messages as the device sends them.
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <vector>

#include "c_devsim_desktop.h"
#include "c_devsim_frames.h"
#include "encoder/c_h264_encoder.h"

namespace bench {

struct test_stream
{
    int width = 0;
    int height = 0;
    // One access unit per picture, as the encoder gave them.
    std::vector<std::vector<uint8_t> > units;
    // The same units as the bytes on the video channel: type-6 frames of at
    // most `fragment` payload bytes, the first 16 body bytes enciphered with key8.
    std::vector<std::vector<uint8_t> > wire;

    size_t unit_bytes() const
    {
        size_t n = 0;
        for (const auto& u : units)
            n += u.size();
        return n;
    }
};

inline std::vector<uint8_t> wire_bytes(const std::vector<uint8_t>& unit, uint32_t picture, uint32_t fragment,
                                       const uint8_t* key8)
{
    std::vector<uint8_t> out;
    uint16_t index = 0;
    size_t pos = 0;
    do {
        const uint32_t len = uint32_t(std::min<size_t>(fragment, unit.size() - pos));
        const uint8_t last = pos + len >= unit.size() ? 1 : 0;
        const std::vector<uint8_t> f = c_devsim_frames::video(last, picture, index++, unit.data() + pos, len, key8);
        out.insert(out.end(), f.begin(), f.end());
        pos += len;
    } while (pos < unit.size());
    return out;
}

// A "video player" window over a quarter of the desktop: a turning,
// colour-shifting wheel, which motion search cannot follow, so this region is
// coded afresh in every picture as a film would be.
inline void draw_player(QImage& img, int i)
{
    const int w = img.width() / 2, h = img.height() / 2;
    const QRect r(img.width() / 4, img.height() / 4, w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillRect(r, QColor(20, 20, 24));
    p.setClipRect(r);
    p.translate(r.center());
    p.rotate(i * 2.5);
    const int spokes = 48;
    for (int k = 0; k < spokes; ++k) {
        p.rotate(360.0 / spokes);
        p.setPen(QPen(QColor::fromHsv((k * 360 / spokes + i * 4) % 360, 200, 230), 3 + k % 5));
        p.drawLine(0, 0, w, 0);
        p.setBrush(QColor::fromHsv((k * 29 + i * 6) % 360, 160, 200));
        p.drawEllipse(QPoint(h / 3 + (k * 13 + i) % (h / 2), 0), 6 + k % 9, 6 + k % 7);
    }
}

// Needs a QGuiApplication for the desktop's text. Empty units on failure.
inline test_stream make_stream(int width, int height, int pictures, int fps, const uint8_t* key8,
                               uint32_t fragment = 60 * 1024)
{
    test_stream s;
    s.width = width;
    s.height = height;
    c_h264_encoder enc;
    if (!enc.open(width, height, fps))
        return s;
    c_devsim_desktop desktop(width, height);
    QImage img;
    for (int i = 0; i < pictures; ++i) {
        devsim_view v;
        v.frame = uint64_t(i);
        v.offset = QPoint(-(i * 4) % 64, -(i * 2) % 64);
        v.pointer = QPoint((i * 11) % width, (i * 7) % height);
        v.typed = QStringLiteral("benchmark picture %1").arg(i);
        v.banner = QStringLiteral("1920x1080 scrolling");
        v.channels = QStringLiteral("video");
        desktop.grab(img, v);
        draw_player(img, i);
        for (auto& unit : enc.encode(img)) {
            if (unit.empty())
                continue;
            s.wire.push_back(wire_bytes(unit, uint32_t(s.units.size()), fragment, key8));
            s.units.push_back(std::move(unit));
        }
    }
    for (auto& unit : enc.flush()) {
        if (unit.empty())
            continue;
        s.wire.push_back(wire_bytes(unit, uint32_t(s.units.size()), fragment, key8));
        s.units.push_back(std::move(unit));
    }
    return s;
}

}  // namespace bench
