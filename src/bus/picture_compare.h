#pragma once
// Comparing pictures for scripts that wait for a screen.
#include <QImage>
#include <QRect>

// Mean absolute difference per colour channel (0 same, 255 opposite) of
// picture's region and reference, which must have the region's size; -1
// when they cannot be compared (sizes differ, region outside the picture).
double picture_difference(const QImage& picture, const QRect& region, const QImage& reference);
