#include "c_devsim_desktop.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

c_devsim_desktop::c_devsim_desktop(int width, int height)
    : m_width(width), m_height(height),
      m_text(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
{
    drawBackground();
}

void c_devsim_desktop::drawBackground()
{
    m_background = QImage(m_width, m_height, QImage::Format_RGB32);
    QPainter p(&m_background);
    QLinearGradient g(0, 0, m_width, m_height);
    g.setColorAt(0, QColor(18, 42, 86));
    g.setColorAt(1, QColor(12, 110, 118));
    p.fillRect(m_background.rect(), g);
    // A grid every 64 pixels shows scaling and the position shifts.
    p.setPen(QColor(255, 255, 255, 28));
    for (int x = 0; x < m_width; x += 64)
        p.drawLine(x, 0, x, m_height);
    for (int y = 0; y < m_height; y += 64)
        p.drawLine(0, y, m_width, y);
    // Corner marks make cropping visible.
    p.setPen(QPen(QColor(255, 200, 0), 4));
    const int c = qMax(16, m_height / 24);
    p.drawLine(2, 2, c, 2);
    p.drawLine(2, 2, 2, c);
    p.drawLine(m_width - 3, m_height - 3, m_width - c, m_height - 3);
    p.drawLine(m_width - 3, m_height - 3, m_width - 3, m_height - c);
}

bool c_devsim_desktop::grab(QImage& img, const devsim_view& v)
{
    if (img.width() != m_width || img.height() != m_height || img.format() != QImage::Format_RGB32)
        img = QImage(m_width, m_height, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.translate(v.offset);
    p.drawImage(0, 0, m_background);
    p.setRenderHint(QPainter::Antialiasing, true);

    const double s = m_height / 720.0;  // layout scale
    auto px = [s](double d) { return int(d * s + 0.5); };

    // A block that moves every frame, so a frozen picture is obvious.
    const int period = qMax(2, m_width - px(60));
    const int bx = int(v.frame * uint64_t(px(6)) % uint64_t(period));
    p.fillRect(bx, m_height - px(26), px(60), px(14), QColor(255, 140, 0));

    // Lock lamps.
    const char* lockNames[3] = {"NUM", "CAPS", "SCROLL"};
    for (int i = 0; i < 3; ++i) {
        const QRect r(px(40) + i * px(120), px(520), px(108), px(44));
        const bool on = v.leds & (1 << i);
        p.setPen(QPen(QColor(230, 230, 230), 2));
        p.setBrush(on ? QColor(40, 200, 80) : QColor(40, 40, 40));
        p.drawRoundedRect(r, px(8), px(8));
        if (m_text) {
            QFont f(QStringLiteral("DejaVu Sans"));
            f.setPixelSize(px(20));
            f.setBold(true);
            p.setFont(f);
            p.setPen(on ? Qt::black : QColor(160, 160, 160));
            p.drawText(r, Qt::AlignCenter, QString::fromLatin1(lockNames[i]));
        }
    }

    if (m_text) {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(px(22));
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(px(40), px(50), QStringLiteral("devsim remote desktop   ") + v.banner);

        QFont big(QStringLiteral("DejaVu Sans Mono"));
        big.setPixelSize(px(96));
        big.setBold(true);
        p.setFont(big);
        p.drawText(px(40), px(170), QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")));

        QFont mid(QStringLiteral("DejaVu Sans Mono"));
        mid.setPixelSize(px(28));
        p.setFont(mid);
        p.drawText(px(40), px(220), QStringLiteral("frame %1").arg(v.frame));
        p.drawText(px(40), px(262), QStringLiteral("pointer %1,%2  buttons %3%4%5  wheel %6")
                                         .arg(v.pointer.x())
                                         .arg(v.pointer.y())
                                         .arg(v.buttons & 1 ? "L" : "-")
                                         .arg(v.buttons & 2 ? "R" : "-")
                                         .arg(v.buttons & 4 ? "M" : "-")
                                         .arg(v.wheel));
        p.drawText(px(40), px(304), QStringLiteral("KM privilege: %1").arg(v.privilege == 1 ? "write" : "read"));
        p.drawText(px(40), px(346), QStringLiteral("viewer: %1").arg(v.channels));

        p.setPen(QColor(200, 220, 255));
        p.drawText(px(40), px(400), QStringLiteral("typed:"));
        const QRect box(px(40), px(412), m_width - px(80), px(64));
        p.setPen(QPen(QColor(230, 230, 230), 2));
        p.setBrush(QColor(0, 0, 0, 120));
        p.drawRect(box);
        QFont typedFont(QStringLiteral("DejaVu Sans Mono"));
        typedFont.setPixelSize(px(36));
        p.setFont(typedFont);
        p.setPen(QColor(255, 255, 160));
        const QFontMetrics fm(typedFont);
        QString shown = v.typed;
        while (!shown.isEmpty() && fm.horizontalAdvance(shown) > box.width() - px(20))
            shown.remove(0, 1);
        p.drawText(box.adjusted(px(10), 0, -px(10), 0), Qt::AlignVCenter | Qt::AlignLeft, shown + QLatin1Char('_'));
        p.setFont(mid);
        p.setPen(QColor(200, 220, 255));
        p.drawText(px(40), px(505), QStringLiteral("keys: ") + v.lastKeys);
    }

    // Recent clicks as rings, older ones fainter.
    const int n = int(v.clicks.size());
    for (int i = 0; i < n; ++i) {
        p.setPen(QPen(QColor(255, 80, 80, 80 + 175 * (i + 1) / n), 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(v.clicks[size_t(i)], px(14), px(14));
    }

    // The remote pointer: an arrow with its tip on the position.
    QPainterPath arrow;
    const double a = 26 * s;
    arrow.moveTo(0, 0);
    arrow.lineTo(0, a);
    arrow.lineTo(a * 0.28, a * 0.75);
    arrow.lineTo(a * 0.5, a * 1.15);
    arrow.lineTo(a * 0.65, a * 1.08);
    arrow.lineTo(a * 0.45, a * 0.7);
    arrow.lineTo(a * 0.8, a * 0.7);
    arrow.closeSubpath();
    p.translate(v.pointer);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(v.buttons ? QColor(255, 80, 80) : QColor(255, 255, 255));
    p.drawPath(arrow);
    return true;
}
