// The picture path from decoder to screen: a picture decoded by the pipeline,
// converted for the picture view's area and painted by it. Fit mode must
// scale smoothly (fine remote text stays readable), actual size must give
// the remote pixels unchanged and follow the scroll bars.
#include <gtest/gtest.h>

#include <QApplication>

#include "common/offscreen_app.h"
#include <QImage>
#include <QPainter>
#include <QScrollBar>

#include <cstring>
#include <vector>

#include "encoder/c_h264_encoder.h"
#include "tools/decoder/c_video_pipeline.h"
#include "view/c_picture_view.h"

namespace {

constexpr int k_w = 640;
constexpr int k_h = 480;
const QRect k_checker(96, 96, 64, 64);  // 1-pixel black and white checkerboard

QApplication* app()
{
    return offscreen_app();
}

QImage source_picture()
{
    QImage img(k_w, k_h, QImage::Format_RGB32);
    img.fill(QColor(30, 110, 190));
    for (int y = k_checker.top(); y <= k_checker.bottom(); ++y)
        for (int x = k_checker.left(); x <= k_checker.right(); ++x)
            img.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return img;
}

// The picture through the real pipeline, losslessly encoded so that any
// grey in the checkerboard comes from the scaling, not the encoder.
std::shared_ptr<c_video_pipeline> pipeline_with_picture()
{
    c_h264_encoder enc;
    c_h264_encoder::options opt;
    opt.crf = 0;
    EXPECT_TRUE(enc.open(k_w, k_h, 30, opt));
    const auto units = enc.encode(source_picture());
    EXPECT_EQ(units.size(), 1u);
    auto pl = std::make_shared<c_video_pipeline>();
    std::vector<uint8_t> body(12 + units[0].size());
    body[0] = 6;
    body[1] = 1;
    const uint32_t n = uint32_t(units[0].size());
    body[8] = uint8_t(n >> 24);
    body[9] = uint8_t(n >> 16);
    body[10] = uint8_t(n >> 8);
    body[11] = uint8_t(n);
    std::memcpy(body.data() + 12, units[0].data(), n);
    EXPECT_TRUE(pl->on_video_data(body.data(), int(body.size())));
    return pl;
}

QImage shown(c_picture_view& view)
{
    return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage show(c_picture_view& view, c_video_pipeline& pl, bool first)
{
    QSize source;
    auto target = [&view](const QSize& s) { return view.target_size(s); };
    const QImage pic = first ? pl.take_picture(target, &source) : pl.convert_again(target, &source);
    EXPECT_EQ(source, QSize(k_w, k_h));
    view.show_picture(pic, source);
    return pic;
}

}  // namespace

TEST(PictureView, FitScalesSmoothlyAndActualSizeGivesTheRemotePixelsScrolled)
{
    app();
    auto pl = pipeline_with_picture();
    c_picture_view view;
    view.resize(k_w / 2, k_h / 2);
    view.show();
    QCoreApplication::processEvents();

    // Fit into exactly half the size: converted once to 320 x 240.
    const QImage pic = show(view, *pl, true);
    EXPECT_EQ(pic.size(), QSize(k_w / 2, k_h / 2));
    EXPECT_EQ(view.picture_rect(), QRect(0, 0, k_w / 2, k_h / 2));
    QImage s = shown(view);
    const QRect half(k_checker.topLeft() / 2, k_checker.size() / 2);
    int grey = 0, total = 0;
    for (int y = half.top() + 2; y < half.bottom() - 1; ++y)
        for (int x = half.left() + 2; x < half.right() - 1; ++x) {
            const int g = qGray(s.pixel(x, y));
            grey += g > 90 && g < 165;
            ++total;
        }
    // Nearest-pixel scaling gives all black or all white here.
    EXPECT_EQ(grey, total) << "checkerboard not averaged to grey";
    EXPECT_LT(qAbs(qBlue(s.pixel(10, 200)) - 190), 8);

    // Actual size: scroll bars, and the checkerboard pixel for pixel.
    view.set_actual_size(true);
    show(view, *pl, false);
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.horizontalScrollBar()->isVisible());
    EXPECT_TRUE(view.verticalScrollBar()->isVisible());
    EXPECT_EQ(view.picture_rect().size(), QSize(k_w, k_h));
    auto exact_at = [&](const QImage& img, const QPoint& offset) {
        int wrong = 0;
        for (int y = k_checker.top(); y <= k_checker.bottom(); ++y)
            for (int x = k_checker.left(); x <= k_checker.right(); ++x) {
                const int g = qGray(img.pixel(x - offset.x(), y - offset.y()));
                wrong += (x + y) % 2 ? g < 248 : g > 7;
            }
        return wrong;
    };
    s = shown(view);
    EXPECT_EQ(exact_at(s, QPoint(0, 0)), 0);

    // Scrolled: the same pixels, moved by the offset; the picture's place follows.
    view.horizontalScrollBar()->setValue(80);
    view.verticalScrollBar()->setValue(50);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.picture_rect().topLeft(), QPoint(-80, -50));
    s = shown(view);
    EXPECT_EQ(exact_at(s, QPoint(80, 50)), 0);
}

// Run with QT_SCALE_FACTOR=2 (its own CTest entry): on a screen of two
// device pixels per logical one, the picture is converted for and painted in
// device pixels, and the place the mouse mapping uses stays exact.
TEST(PictureView, DevicePixelRatioTwoUsesDevicePixels)
{
    app();
    c_picture_view view;
    view.resize(k_w / 2, k_h / 2);
    view.show();
    QCoreApplication::processEvents();
    if (view.viewport()->devicePixelRatioF() != 2.0)
        GTEST_SKIP() << "needs QT_SCALE_FACTOR=2";
    auto pl = pipeline_with_picture();

    // Fit: the 320 x 240 logical area is 640 x 480 device pixels, so the
    // picture needs no scaling at all and shows its own pixels.
    const QImage pic = show(view, *pl, true);
    EXPECT_EQ(pic.size(), QSize(k_w, k_h));
    EXPECT_EQ(view.picture_rect(), QRect(0, 0, k_w / 2, k_h / 2));
    const QImage s = shown(view);
    ASSERT_EQ(s.size(), QSize(k_w, k_h));
    int wrong = 0;
    for (int y = k_checker.top(); y <= k_checker.bottom(); ++y)
        for (int x = k_checker.left(); x <= k_checker.right(); ++x) {
            const int g = qGray(s.pixel(x, y));
            wrong += (x + y) % 2 ? g < 248 : g > 7;
        }
    EXPECT_EQ(wrong, 0);

    // Actual size: one picture pixel per device pixel, half a logical pixel
    // each, and the same device pixels on the screen.
    view.set_actual_size(true);
    show(view, *pl, false);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.picture_rect().size(), QSize(k_w / 2, k_h / 2));
    EXPECT_EQ(shown(view), s);
}
