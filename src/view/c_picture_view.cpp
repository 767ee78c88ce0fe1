#include "view/c_picture_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "tools/key_mouse/c_view_mapper.h"

c_picture_view::c_picture_view(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    // Every pixel is painted each time: nothing to clear first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setAutoFillBackground(false);
    // Pointer input over the picture belongs to the container beneath. Qt
    // drops moves without a button at a widget that does not track the
    // mouse, so this one tracks and passes them on.
    viewport()->setAttribute(Qt::WA_TransparentForMouseEvents);
    setMouseTracking(true);
    viewport()->setFocusPolicy(Qt::NoFocus);
}

void c_picture_view::set_actual_size(bool on)
{
    if (on == m_actual)
        return;
    m_actual = on;
    relayout();
    viewport()->update();
}

void c_picture_view::set_background(const QColor& colour)
{
    m_background = colour;
    viewport()->update();
}

QSize c_picture_view::target_size(const QSize& source) const
{
    if (m_actual || source.isEmpty())
        return source;
    const qreal dpr = viewport()->devicePixelRatioF();
    const QSize area(int(std::lround(viewport()->width() * dpr)), int(std::lround(viewport()->height() * dpr)));
    return c_view_mapper::fit(source, area).scaledSize;
}

void c_picture_view::show_picture(const QImage& picture, const QSize& source)
{
    const QRect before = m_device_rect;
    m_image = picture;
    ++m_shown;
    if (source != m_source) {
        m_source = source;
        relayout();
    }
    // The same place as before: only the picture changes, not the bars.
    if (m_device_rect == before && !m_image.isNull() && m_image.size() == m_device_rect.size())
        viewport()->update(m_logical_rect.toAlignedRect());
    else
        viewport()->update();
}

QRect c_picture_view::picture_rect() const
{
    return m_logical_rect.toRect();
}

void c_picture_view::relayout()
{
    const qreal dpr = viewport()->devicePixelRatioF();
    const QRect old = m_device_rect;
    if (m_source.isEmpty()) {
        m_device_rect = QRect();
        m_logical_rect = QRectF();
        horizontalScrollBar()->setRange(0, 0);
        verticalScrollBar()->setRange(0, 0);
        return;
    }
    if (m_actual) {
        // Scroll bars count logical pixels; the picture is source / dpr of them.
        const QSize content(int(std::ceil(m_source.width() / dpr)), int(std::ceil(m_source.height() / dpr)));
        QScrollBar* h = horizontalScrollBar();
        QScrollBar* v = verticalScrollBar();
        h->setPageStep(viewport()->width());
        v->setPageStep(viewport()->height());
        h->setSingleStep(20);
        v->setSingleStep(20);
        h->setRange(0, std::max(0, content.width() - viewport()->width()));
        v->setRange(0, std::max(0, content.height() - viewport()->height()));
        // Smaller than the area: centred, as in fit mode.
        const int x = std::max(0, (viewport()->width() - content.width()) / 2) - h->value();
        const int y = std::max(0, (viewport()->height() - content.height()) / 2) - v->value();
        m_device_rect = QRect(QPoint(int(std::lround(x * dpr)), int(std::lround(y * dpr))), m_source);
    } else {
        horizontalScrollBar()->setRange(0, 0);
        verticalScrollBar()->setRange(0, 0);
        const QSize area(int(std::lround(viewport()->width() * dpr)), int(std::lround(viewport()->height() * dpr)));
        const c_view_mapper::fit_result fit = c_view_mapper::fit(m_source, area);
        m_device_rect = QRect(fit.origin, fit.scaledSize);
    }
    m_logical_rect = QRectF(m_device_rect.x() / dpr, m_device_rect.y() / dpr, m_device_rect.width() / dpr,
                            m_device_rect.height() / dpr);
    if (m_device_rect != old)
        emit picture_moved();
}

void c_picture_view::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect target = m_logical_rect.toAlignedRect();
    // Only the bars need the background, unless there is nothing to show
    // or the picture has transparent parts.
    if (m_image.isNull() || m_image.hasAlphaChannel() || target.isEmpty()) {
        painter.fillRect(event->rect(), m_background);
    } else {
        for (const QRect& bar : QRegion(event->rect()).subtracted(target))
            painter.fillRect(bar, m_background);
    }
    if (m_image.isNull() || m_device_rect.isEmpty())
        return;
    if (m_image.size() == m_device_rect.size()) {
        // Already the size it is shown at: a plain copy, device pixel for
        // device pixel whatever the screen's pixel ratio.
        const qreal dpr = viewport()->devicePixelRatioF();
        if (dpr != 1.0)
            painter.scale(1.0 / dpr, 1.0 / dpr);
        painter.drawImage(m_device_rect.topLeft(), m_image);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(m_logical_rect, m_image);
    }
}

void c_picture_view::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void c_picture_view::scrollContentsBy(int, int)
{
    relayout();
    viewport()->update();
}

void c_picture_view::wheelEvent(QWheelEvent* event)
{
    // The remote computer's wheel, not ours.
    event->ignore();
}

bool c_picture_view::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        // Not taken here: the container under the picture gets them.
        event->ignore();
        return false;
    default:
        return QAbstractScrollArea::event(event);
    }
}

bool c_picture_view::viewportEvent(QEvent* event)
{
    // Resizes of the viewport (scroll bars coming and going) move the picture.
    if (event->type() == QEvent::Resize) {
        const bool r = QAbstractScrollArea::viewportEvent(event);
        relayout();
        return r;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
