#include "c_devsim_x11.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstring>

c_devsim_x11::~c_devsim_x11()
{
    if (m_dpy)
        XCloseDisplay(m_dpy);
}

bool c_devsim_x11::open(const QString& display, QString* error)
{
    m_dpy = XOpenDisplay(display.toLocal8Bit().constData());
    if (!m_dpy) {
        *error = QStringLiteral("cannot open the X display %1").arg(display);
        return false;
    }
    int ev, er, maj, min;
    if (!XTestQueryExtension(m_dpy, &ev, &er, &maj, &min)) {
        *error = QStringLiteral("the X display %1 has no XTEST extension").arg(display);
        return false;
    }
    const int scr = DefaultScreen(m_dpy);
    m_root = RootWindow(m_dpy, scr);
    const int depth = DefaultDepth(m_dpy, scr);
    Visual* vis = DefaultVisual(m_dpy, scr);
    if ((depth != 24 && depth != 32) || vis->red_mask != 0xff0000 || vis->blue_mask != 0xff) {
        *error = QStringLiteral("the X display %1 is not 24-bit TrueColor").arg(display);
        return false;
    }
    m_width = DisplayWidth(m_dpy, scr) & ~1;
    m_height = DisplayHeight(m_dpy, scr) & ~1;
    return true;
}

bool c_devsim_x11::grab(QImage& img, const devsim_view&)
{
    std::lock_guard<std::mutex> lk(m_lock);
    XImage* xi = XGetImage(m_dpy, m_root, 0, 0, unsigned(m_width), unsigned(m_height), AllPlanes, ZPixmap);
    if (!xi)
        return false;
    if (img.width() != m_width || img.height() != m_height || img.format() != QImage::Format_RGB32)
        img = QImage(m_width, m_height, QImage::Format_RGB32);
    // 32 bits per pixel, red in 0xff0000: the same bytes as Format_RGB32.
    for (int y = 0; y < m_height; ++y)
        memcpy(img.scanLine(y), xi->data + size_t(y) * size_t(xi->bytes_per_line), size_t(m_width) * 4);
    XDestroyImage(xi);
    return true;
}

unsigned long c_devsim_x11::usage_keysym(uint8_t u)
{
    if (u >= 0x04 && u <= 0x1D)
        return XK_a + (u - 0x04);
    if (u >= 0x1E && u <= 0x26)
        return XK_1 + (u - 0x1E);
    if (u >= 0x3A && u <= 0x45)
        return XK_F1 + (u - 0x3A);
    if (u >= 0x59 && u <= 0x61)
        return XK_KP_1 + (u - 0x59);
    switch (u) {
    case 0x27: return XK_0;
    case 0x28: return XK_Return;
    case 0x29: return XK_Escape;
    case 0x2A: return XK_BackSpace;
    case 0x2B: return XK_Tab;
    case 0x2C: return XK_space;
    case 0x2D: return XK_minus;
    case 0x2E: return XK_equal;
    case 0x2F: return XK_bracketleft;
    case 0x30: return XK_bracketright;
    case 0x31: return XK_backslash;
    case 0x33: return XK_semicolon;
    case 0x34: return XK_apostrophe;
    case 0x35: return XK_grave;
    case 0x36: return XK_comma;
    case 0x37: return XK_period;
    case 0x38: return XK_slash;
    case 0x39: return XK_Caps_Lock;
    case 0x46: return XK_Print;
    case 0x47: return XK_Scroll_Lock;
    case 0x48: return XK_Pause;
    case 0x49: return XK_Insert;
    case 0x4A: return XK_Home;
    case 0x4B: return XK_Prior;
    case 0x4C: return XK_Delete;
    case 0x4D: return XK_End;
    case 0x4E: return XK_Next;
    case 0x4F: return XK_Right;
    case 0x50: return XK_Left;
    case 0x51: return XK_Down;
    case 0x52: return XK_Up;
    case 0x53: return XK_Num_Lock;
    case 0x54: return XK_KP_Divide;
    case 0x55: return XK_KP_Multiply;
    case 0x56: return XK_KP_Subtract;
    case 0x57: return XK_KP_Add;
    case 0x58: return XK_KP_Enter;
    case 0x62: return XK_KP_0;
    case 0x63: return XK_KP_Decimal;
    case 0x65: return XK_Menu;
    default: return 0;
    }
}

void c_devsim_x11::key(unsigned long keysym, bool down)
{
    const KeyCode kc = XKeysymToKeycode(m_dpy, keysym);
    if (kc)
        XTestFakeKeyEvent(m_dpy, kc, down ? True : False, CurrentTime);
}

void c_devsim_x11::inject_keys(const uint8_t prev[8], const uint8_t now[8])
{
    static const unsigned long mods[8] = {XK_Control_L, XK_Shift_L, XK_Alt_L, XK_Super_L,
                                          XK_Control_R, XK_Shift_R, XK_Alt_R, XK_Super_R};
    auto has = [](const uint8_t* r, uint8_t u) {
        for (int i = 2; i < 8; ++i)
            if (r[i] == u)
                return true;
        return false;
    };
    std::lock_guard<std::mutex> lk(m_lock);
    // Modifiers go down before the keys and come up after them.
    for (int b = 0; b < 8; ++b)
        if ((now[0] & (1 << b)) && !(prev[0] & (1 << b)))
            key(mods[b], true);
    for (int i = 2; i < 8; ++i)
        if (prev[i] && !has(now, prev[i]))
            key(usage_keysym(prev[i]), false);
    for (int i = 2; i < 8; ++i)
        if (now[i] && !has(prev, now[i]))
            key(usage_keysym(now[i]), true);
    for (int b = 0; b < 8; ++b)
        if (!(now[0] & (1 << b)) && (prev[0] & (1 << b)))
            key(mods[b], false);
    XSync(m_dpy, False);  // processed before the KM answer goes out
}

void c_devsim_x11::inject_pointer(int x, int y, int buttons, int wheelSteps)
{
    std::lock_guard<std::mutex> lk(m_lock);
    XTestFakeMotionEvent(m_dpy, -1, x, y, CurrentTime);
    // Report bits 0, 1, 2 are X buttons 1 (left), 3 (right), 2 (middle).
    static const unsigned xbutton[3] = {1, 3, 2};
    for (int b = 0; b < 3; ++b) {
        const bool was = m_buttons & (1 << b), is = buttons & (1 << b);
        if (was != is)
            XTestFakeButtonEvent(m_dpy, xbutton[b], is ? True : False, CurrentTime);
    }
    m_buttons = buttons;
    for (int i = 0; i < (wheelSteps < 0 ? -wheelSteps : wheelSteps); ++i) {
        const unsigned wb = wheelSteps > 0 ? 4 : 5;
        XTestFakeButtonEvent(m_dpy, wb, True, CurrentTime);
        XTestFakeButtonEvent(m_dpy, wb, False, CurrentTime);
    }
    XSync(m_dpy, False);  // processed before the KM answer goes out
}
