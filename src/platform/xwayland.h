#pragma once
// What an X client must do differently when its X server is XWayland (an X
// server run by a Wayland compositor): grabs need the compositor's consent,
// and the server's lock state is its own, not the keyboard's.
#include <cstdint>

typedef struct _XDisplay Display;

namespace xwayland {

// True when the X server behind dpy says it is XWayland (its extension,
// from XWayland 23.1 on).
bool is_xwayland(Display* dpy);

// Tells the compositor that window may grab the keyboard (compositors that
// run XWayland honour an X keyboard grab only after this message).
void allow_keyboard_grab(Display* dpy, unsigned long window);

}  // namespace xwayland
