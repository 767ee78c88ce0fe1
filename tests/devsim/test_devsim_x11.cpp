// --x11: the picture is a real X display's screen and the KM reports are
// replayed into it.
#include "devsim_fixture.h"
#include "tools/decoder/c_frame_assembler.h"
#include "tools/decoder/c_video_decoder.h"
#include "tools/key_mouse/km_messages.h"
#include "tools/socket/c_msg_builder.h"
#include "xvfb_server.h"

// Xlib's macros (Bool, Status, ...) break Qt headers included after them.
#include <X11/Xlib.h>
#include <X11/keysym.h>

class DevsimX11Test : public DevsimTest
{
protected:
    xvfb_server x;  // outlives the device, which TearDown() ends
};

TEST_F(DevsimX11Test, DisplayIsStreamedAndDrivenByTheReports)
{
    ASSERT_TRUE(x.start(642, 480)) << "Xvfb did not start";
    Display* dpy = XOpenDisplay(x.display().c_str());
    ASSERT_NE(dpy, nullptr);

    c_devsim_options o = defaults();
    o.x11Display = QString::fromStdString(x.display());
    start(o);
    EXPECT_EQ(m_dev->screen().width(), 642);

    scripted_channel video, km;
    ASSERT_TRUE(video.connect(m_dev->port_video()));
    ASSERT_TRUE(km.connect(m_dev->port_km()));
    c_frame_assembler assembler;
    c_video_decoder decoder;
    ASSERT_TRUE(decoder.open());
    received_frame f;
    bool decoded = false;
    while (!decoded) {
        ASSERT_TRUE(video.next(f, 10000));
        uint8_t* body = f.body.data();
        uint32_t len = uint32_t(f.body.size());
        ASSERT_TRUE(video_frame_prepare(f.header, &body, &len, k_encode.data()));
        int unit = 0;
        const uint8_t* au = assembler.add(body, int(len), &unit);
        decoded = au && decoder.decode(au, unit) > 0;
    }
    EXPECT_EQ(decoder.picture_width(), 642);
    EXPECT_EQ(decoder.picture_height(), 480);

    auto send = [&](uint8_t type, const std::vector<uint8_t>& payload) {
        ASSERT_TRUE(km.send(build_km_frame(type, payload.data(), uint32_t(payload.size()), k_decode.data())));
        ASSERT_TRUE(km.next(f));
    };
    // The grid's middle is the screen's middle.
    const auto abs = km_mouse_abs_payload(KM_ABS_NONE, 960, 600, 0);
    send(CMD_KM_MOUSE_ABS, std::vector<uint8_t>(abs.begin(), abs.end()));
    Window root, child;
    int rx = 0, ry = 0, wx, wy;
    unsigned mask;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    EXPECT_EQ(rx, 321);
    EXPECT_EQ(ry, 240);

    // A held key is down on the display until its release report.
    const KeyCode kc = XKeysymToKeycode(dpy, XK_a);
    auto down = [&] {
        char keys[32];
        XQueryKeymap(dpy, keys);
        return (keys[kc / 8] >> (kc % 8)) & 1;
    };
    send(CMD_KM_KEYBOARD, {0, 0, 0x04, 0, 0, 0, 0, 0});
    EXPECT_TRUE(down());
    send(CMD_KM_KEYBOARD, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(down());
    XCloseDisplay(dpy);
}
