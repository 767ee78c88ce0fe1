#pragma once
// The synthetic remote desktop: a background with a grid, a clock and a frame
// counter, the remote pointer where the KM channel put it, the last typed
// text, the lock and privilege states. Text needs a QGuiApplication (the
// offscreen platform is enough); without one only shapes are drawn.
#include "c_devsim_screen.h"

class c_devsim_desktop : public c_devsim_screen
{
public:
    c_devsim_desktop(int width, int height);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool grab(QImage& img, const devsim_view& view) override;

private:
    void drawBackground();

    int m_width;
    int m_height;
    bool m_text;
    QImage m_background;
};
