#pragma once
// The arithmetic of the video view, free of widgets: how a picture is fitted
// into the display area, and how a point or a movement over the scaled picture
// maps back to the remote screen. The main window keeps the state (origin,
// scale factors, carried fractions) and passes it in.
#include <QPoint>
#include <QSize>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

class c_view_mapper
{
public:
    // The remote pointer is addressed on this grid whatever the remote resolution.
    enum { ABS_GRID_WIDTH = 1920, ABS_GRID_HEIGHT = 1200 };

    // Largest movement of one relative report on each axis.
    enum { REL_STEP_MAX = 127 };

    struct fit_result
    {
        QSize scaledSize;  // pixel size of the scaled picture
        QPoint origin;     // its top-left corner inside the display area
        float scaleX;      // picture pixels per label pixel
        float scaleY;
    };

    // The window's size less the tool bar along whichever edge it spans.
    static QSize display_area(const QSize& window, const QSize& toolBar);

    // Scales the picture to the area keeping its aspect ratio and centres it.
    // A picture or an area without pixels yields the picture unscaled at (0, 0)
    // with scale 1, so nothing downstream divides by zero.
    static fit_result fit(const QSize& picture, const QSize& area);

    // The nearest point of the scaled picture (its bounds included).
    static QPoint clamp_to_picture(const QPoint& p, const QSize& scaledSize);

    // Maps a point relative to the scaled picture's origin to the absolute grid.
    // Returns false when the point lies outside the scaled picture (its bounds
    // belong to it) or the decoded size is not known.
    static bool map_absolute(const QPoint& p, const QSize& scaledSize, float scaleX, float scaleY,
                             int decodedWidth, int decodedHeight, int16_t& X, int16_t& Y);

    // One relative report's movement on both axes.
    using step = std::pair<int8_t, int8_t>;

    // Turns the movement from lastLocalPos to p into remote counts, carrying the
    // sub-count parts in fracX/fracY, and splits them into signed-byte steps.
    // lastLocalPos becomes p. Counts that the steps do not cover are dropped.
    static std::vector<step> map_relative(const QPoint& p, QPoint& lastLocalPos, float scaleX, float scaleY,
                                          float& fracX, float& fracY);

    // Reads "width,height" from the first line of the window size file. Any
    // other number of non-empty parts leaves the outputs alone and returns false;
    // a part that is not a number reads as 0.
    static bool parse_client_size(const QString& line, int& width, int& height);
};
