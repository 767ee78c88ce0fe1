#pragma once
// Finding things in screenshots of the real viewer: colour closeness and the
// place of a tool bar icon (the window has no other handle a test can use).
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdlib>

inline bool near(QRgb a, QRgb b, int tol)
{
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol;
}

struct icon_hit {
    QPoint pos;
    int size = 0;
    double err = 1e9;

    QPoint centre() const { return pos + QPoint(size / 2, size / 2); }
};

// Best place of an icon (drawn over the tool bar's background at a few sizes)
// inside the tool bar strip: mean absolute difference per channel. The icon
// shown scores about 2, a look-alike (mouse show for mouse hide) about 7, an
// icon that is not there above 30.
inline icon_hit find_icon(const QImage& shot, const QRect& strip, const QImage& icon, QRgb background)
{
    icon_hit best;
    for (int size : {16, 20, 22, 24, 32}) {
        QImage t(size, size, QImage::Format_RGB32);
        t.fill(background);
        QPainter painter(&t);
        painter.drawImage(0, 0, icon.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        painter.end();
        for (int y = strip.top(); y + size - 1 <= strip.bottom(); ++y)
            for (int x = strip.left(); x + size - 1 <= strip.right(); ++x) {
                long sum = 0;
                for (int j = 0; j < size; j += 2) {
                    const QRgb* s = reinterpret_cast<const QRgb*>(shot.constScanLine(y + j)) + x;
                    const QRgb* r = reinterpret_cast<const QRgb*>(t.constScanLine(j));
                    for (int i = 0; i < size; i += 2)
                        sum += std::abs(qRed(s[i]) - qRed(r[i])) + std::abs(qGreen(s[i]) - qGreen(r[i])) +
                               std::abs(qBlue(s[i]) - qBlue(r[i]));
                }
                const double err = double(sum) / (3.0 * ((size + 1) / 2) * ((size + 1) / 2));
                if (err < best.err) {
                    best.err = err;
                    best.pos = QPoint(x, y);
                    best.size = size;
                }
            }
    }
    return best;
}
