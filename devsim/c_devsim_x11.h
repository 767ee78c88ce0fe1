#pragma once
// A real X display as the remote computer: the picture is the root window
// (XGetImage), and the received keyboard and mouse reports are replayed into
// it with the XTEST extension, so the viewer drives a real desktop.
#include <QString>

#include <mutex>

#include "c_devsim_screen.h"

typedef struct _XDisplay Display;

class c_devsim_x11 : public c_devsim_screen
{
public:
    c_devsim_x11() = default;
    ~c_devsim_x11() override;

    // Opens the display (":99"); false with a reason when it cannot, or when
    // it lacks XTEST or a 24/32-bit TrueColor root.
    bool open(const QString& display, QString* error);

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool grab(QImage& img, const devsim_view& view) override;
    void inject_keys(const uint8_t prev[8], const uint8_t now[8]) override;
    void inject_pointer(int x, int y, int buttons, int wheelSteps) override;

    // X keysym of a HID usage (0 when none).
    static unsigned long usage_keysym(uint8_t usage);

private:
    void key(unsigned long keysym, bool down);

    std::mutex m_lock;  // one Display, used from the stream and KM threads
    Display* m_dpy = nullptr;
    unsigned long m_root = 0;
    int m_width = 0;    // even: the encoder needs whole chroma samples
    int m_height = 0;
    int m_buttons = 0;
};
