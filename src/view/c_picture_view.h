#pragma once
// The widget that shows the remote picture. It paints, opaque and without a
// copy, an image already converted to the size it occupies on the screen in
// device pixels: in fit mode the picture scaled into the area keeping its
// aspect ratio (bars beside it in the background colour), in actual-size
// mode the picture pixel for pixel with scroll bars when it is larger than
// the area. An image of another size (the no-signal picture, or one
// converted before a resize) is drawn scaled with smoothing.
//
// It takes no mouse input over the picture (the container under it maps and
// sends the pointer), and the wheel goes there too: only the scroll bars
// themselves are used locally.
#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>

class c_picture_view : public QAbstractScrollArea
{
    Q_OBJECT
public:
    explicit c_picture_view(QWidget* parent = nullptr);

    // Actual size: one picture pixel per device pixel, scrolled.
    void set_actual_size(bool on);
    bool actual_size() const { return m_actual; }

    void set_background(const QColor& colour);

    // The size in device pixels a picture of `source` pixels is to be
    // converted to, in the current mode and area.
    QSize target_size(const QSize& source) const;

    // Shows picture for a remote picture of `source` pixels.
    void show_picture(const QImage& picture, const QSize& source);
    // Lets go of the image shown (its memory can take the next picture);
    // the screen keeps what it shows until the next show_picture().
    void release_picture() { m_image = QImage(); }

    // Where the picture lies in the viewport, in its (logical) pixels, the
    // scroll offset applied; empty before the first picture.
    QRect picture_rect() const;
    QSize source_size() const { return m_source; }
    // Pictures shown so far.
    uint64_t shown_count() const { return m_shown; }

signals:
    // The picture's place in the viewport changed (scrolling, resizing, mode).
    void picture_moved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Recomputes the picture's place (device and logical) and the scroll
    // bars' ranges from the source size, the viewport and the mode.
    void relayout();

    QImage m_image;
    QSize m_source;
    QColor m_background{Qt::black};
    bool m_actual = false;
    QRect m_device_rect; // in device pixels of the viewport
    QRectF m_logical_rect;
    uint64_t m_shown = 0;
};
