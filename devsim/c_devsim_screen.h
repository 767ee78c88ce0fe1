#pragma once
// Where the device's picture comes from and where the received input goes:
// the synthetic desktop (default) or a real X display (--x11).
#include <QImage>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <vector>

// What the device knows about its remote computer at one moment; the
// synthetic desktop draws it, an X display ignores most of it.
struct devsim_view
{
    uint64_t frame = 0;      // frames streamed on this connection
    QPoint pointer;          // remote pointer in picture pixels
    int buttons = 0;         // bit 0 left, bit 1 right, bit 2 middle
    int wheel = 0;           // sum of wheel steps received
    std::vector<QPoint> clicks;  // recent button presses, newest last
    QString typed;           // last typed text
    QString lastKeys;        // names of the last pressed keys
    uint8_t leds = 0;        // bit 0 Num, 1 Caps, 2 Scroll
    int privilege = 1;       // 1 write, 0 read
    QPoint offset;           // picture shift from position requests
    QString banner;          // identity line (adapter, user)
    QString channels;        // which channels have a viewer
};

class c_devsim_screen
{
public:
    virtual ~c_devsim_screen() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;

    // Fills img (width x height, QImage::Format_RGB32) with the next picture.
    virtual bool grab(QImage& img, const devsim_view& view) = 0;

    // Input from the KM channel, already decoded. The synthetic desktop shows
    // it through devsim_view instead and ignores these.
    virtual void inject_keys(const uint8_t /*prev*/[8], const uint8_t /*now*/[8]) {}
    virtual void inject_pointer(int /*x*/, int /*y*/, int /*buttons*/, int /*wheelSteps*/) {}
};
