#include "tools/key_mouse/c_view_mapper.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdlib>

QSize c_view_mapper::display_area(const QSize& window, const QSize& toolBar)
{
    if (toolBar.height() == window.height())
        return QSize(window.width() - toolBar.width(), window.height());
    if (toolBar.width() == window.width())
        return QSize(window.width(), window.height() - toolBar.height());
    return window;
}

c_view_mapper::fit_result c_view_mapper::fit(const QSize& picture, const QSize& area)
{
    fit_result r{picture, QPoint(0, 0), 1.0f, 1.0f};
    if (picture.width() <= 0 || picture.height() <= 0 || area.width() <= 0 || area.height() <= 0)
        return r;

    const double areaAspect = double(area.width()) / double(area.height());
    const double pictureAspect = double(picture.width()) / double(picture.height());
    if (pictureAspect < areaAspect) {
        // Taller than the area: full height, bars left and right.
        const double factor = double(area.height()) / double(picture.height());
        const int w = std::max(1, int(std::lround(picture.width() * factor)));
        r.scaledSize = QSize(w, area.height());
        r.origin = QPoint((area.width() - w) / 2, 0);
    } else {
        // Wider (or the same shape): full width, bars above and below.
        const double factor = double(area.width()) / double(picture.width());
        const int h = std::max(1, int(std::lround(picture.height() * factor)));
        r.scaledSize = QSize(area.width(), h);
        r.origin = QPoint(0, (area.height() - h) / 2);
    }
    r.scaleX = float(picture.width()) / float(r.scaledSize.width());
    r.scaleY = float(picture.height()) / float(r.scaledSize.height());
    return r;
}

QPoint c_view_mapper::clamp_to_picture(const QPoint& p, const QSize& scaledSize)
{
    return QPoint(std::clamp(p.x(), 0, std::max(0, scaledSize.width())),
                  std::clamp(p.y(), 0, std::max(0, scaledSize.height())));
}

bool c_view_mapper::map_absolute(const QPoint& p, const QSize& scaledSize, float scaleX, float scaleY,
                                 int decodedWidth, int decodedHeight, int16_t& X, int16_t& Y)
{
    if (p.x() < 0 || p.x() > scaledSize.width() || p.y() < 0 || p.y() > scaledSize.height())
        return false;
    const int16_t rx = int16_t(float(p.x()) * scaleX);
    const int16_t ry = int16_t(float(p.y()) * scaleY);
    if (rx < 0 || ry < 0)
        return false;
    if (decodedWidth <= 0 || decodedHeight <= 0)
        return false;
    X = int16_t(rx * double(ABS_GRID_WIDTH) / decodedWidth);
    Y = int16_t(ry * double(ABS_GRID_HEIGHT) / decodedHeight);
    return true;
}

namespace {

// Scales one axis' movement and folds the carried fraction in; the fraction
// keeps what is left below one count, between -1 and 1.
int scale_axis(int delta, float scale, float& frac)
{
    const float f = float(delta) * scale;
    int i = int(f);
    frac += f - float(i);
    const int carry = int(frac);
    i += carry;
    frac -= float(carry);
    return i;
}

// One step of at most one signed byte, and what is left of r.
int8_t take_step(int& r)
{
    if (r > c_view_mapper::REL_STEP_MAX) {
        r -= c_view_mapper::REL_STEP_MAX;
        return int8_t(c_view_mapper::REL_STEP_MAX);
    }
    if (r < -128) {
        r += c_view_mapper::REL_STEP_MAX;
        return int8_t(-c_view_mapper::REL_STEP_MAX);
    }
    const int8_t s = int8_t(r);
    r = 0;
    return s;
}

int steps_needed(int counts)
{
    const int a = std::abs(counts);
    return (a + 127) / 128;
}

}  // namespace

std::vector<c_view_mapper::step> c_view_mapper::map_relative(const QPoint& p, QPoint& lastLocalPos, float scaleX,
                                                             float scaleY, float& fracX, float& fracY)
{
    const int dx = p.x() - lastLocalPos.x();
    const int dy = p.y() - lastLocalPos.y();
    lastLocalPos = p;

    int ix = scale_axis(dx, scaleX, fracX);
    int iy = scale_axis(dy, scaleY, fracY);

    const int n = std::max(steps_needed(ix), steps_needed(iy));
    std::vector<step> steps;
    steps.reserve(size_t(n));
    for (int k = 0; k < n; ++k) {
        const int8_t sx = take_step(ix);
        const int8_t sy = take_step(iy);
        steps.emplace_back(sx, sy);
    }
    return steps;
}

bool c_view_mapper::parse_client_size(const QString& line, int& width, int& height)
{
    if (line.isEmpty())
        return false;
    const QStringList parts = line.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parts.size() != 2)
        return false;
    width = parts[0].toInt(nullptr, 10);
    height = parts[1].toInt(nullptr, 10);
    return true;
}
