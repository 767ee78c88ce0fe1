#include "bus/picture_compare.h"

#include <cstdint>
#include <cstdlib>

double picture_difference(const QImage& picture, const QRect& region, const QImage& reference)
{
    if (picture.isNull() || reference.isNull() || region.isEmpty() || region.size() != reference.size() ||
        !picture.rect().contains(region))
        return -1.0;
    const QImage a = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    const QImage b =
        reference.format() == QImage::Format_RGB32 ? reference : reference.convertToFormat(QImage::Format_RGB32);
    uint64_t sum = 0;
    for (int y = 0; y < region.height(); ++y) {
        const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(region.y() + y)) + region.x();
        const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < region.width(); ++x) {
            sum += uint64_t(std::abs(qRed(pa[x]) - qRed(pb[x])) + std::abs(qGreen(pa[x]) - qGreen(pb[x])) +
                            std::abs(qBlue(pa[x]) - qBlue(pb[x])));
        }
    }
    return double(sum) / (3.0 * double(region.width()) * double(region.height()));
}
