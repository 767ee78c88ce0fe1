#include "platform/xwayland.h"

#include <X11/Xlib.h>
#include <cstring>

namespace xwayland {

bool is_xwayland(Display* dpy)
{
    if (!dpy)
        return false;
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(dpy, "XWAYLAND", &opcode, &event, &error) != 0;
}

void allow_keyboard_grab(Display* dpy, unsigned long window)
{
    if (!dpy || !window)
        return;
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(dpy, "_XWAYLAND_MAY_GRAB_KEYBOARD", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;
    XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureNotifyMask | SubstructureRedirectMask, &ev);
    XFlush(dpy);
}

}  // namespace xwayland
