#pragma once
// A private X server for end-to-end tests of the real viewer: starts Xvfb on a
// free display number of its own choosing, and talks to it with Xlib/XTest
// (find windows by title, geometry, screenshots, pointer clicks, the window
// manager's close request).
// There is no window manager, so windows sit exactly where the program puts
// them. Link X11 and Xtst.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/x11_environment.h"

class x11_display
{
public:
    // Starts Xvfb with one screen of width x height x 24.
    x11_display(int width = 1600, int height = 1000)
        : x11_display("Xvfb", {"-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24"}, {})
    {
    }

    // Starts another X server that takes -displayfd (Xwayland, with
    // WAYLAND_DISPLAY among env), with these arguments before the common ones.
    x11_display(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string> >& env)
    {
        // Windows come and go while a test looks at them (a pop-up closing
        // between the listing and the question about it); Xlib's default
        // handler would end the whole test program for that.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        // Xvfb picks a free display number itself and writes it to the pipe
        // once it accepts clients: two test programs started at the same time
        // can never end up on one server.
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // The server goes with the test, even when the test dies.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int w = dup(fds[1]);  // without close-on-exec
            const std::string fd = std::to_string(w);
            for (const auto& e : env)
                setenv(e.first.c_str(), e.second.c_str(), 1);
            std::vector<std::string> all = {program, "-displayfd", fd};
            all.insert(all.end(), args.begin(), args.end());
            for (const char* a : {"-nolisten", "tcp", "-noreset"})
                all.emplace_back(a);
            std::vector<char*> argv;
            for (std::string& a : all)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execvp(program.c_str(), argv.data());
            _exit(127);
        }
        ::close(fds[1]);
        std::string number;
        // Up to 10 s for the server to come up.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_pid > 0 && std::chrono::steady_clock::now() < end) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            m_name = ":" + number;
            m_dpy = XOpenDisplay(m_name.c_str());
        }
        if (!m_dpy)
            stop_server();
    }

    ~x11_display()
    {
        if (m_dpy)
            XCloseDisplay(m_dpy);
        stop_server();
    }

    x11_display(const x11_display&) = delete;
    x11_display& operator=(const x11_display&) = delete;

    bool ok() const { return m_dpy != nullptr; }
    const std::string& name() const { return m_name; }

    // One xdotool call on this display, bounded.
    bool xdotool(const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(x11_environment(QString::fromStdString(m_name)));
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForStarted(5000))
            return false;
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished(5000);
            return false;
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    Display* dpy() const { return m_dpy; }

    // Top-level windows (children of the root) that are mapped and whose
    // name matches: exactly, or as a prefix.
    std::vector<Window> find_windows(const std::string& title, bool prefix = false) const
    {
        std::vector<Window> out;
        XSync(m_dpy, False);
        Window root_ret, parent;
        Window* children = nullptr;
        unsigned n = 0;
        if (!XQueryTree(m_dpy, DefaultRootWindow(m_dpy), &root_ret, &parent, &children, &n))
            return out;
        for (unsigned i = 0; i < n; ++i) {
            XWindowAttributes a;
            if (!XGetWindowAttributes(m_dpy, children[i], &a) || a.map_state != IsViewable)
                continue;
            const std::string name = window_name(children[i]);
            if (prefix ? name.rfind(title, 0) == 0 : name == title)
                out.push_back(children[i]);
        }
        if (children)
            XFree(children);
        return out;
    }

    // Waits up to timeout_ms for a mapped window with that title (0 on time-out).
    Window wait_window(const std::string& title, bool prefix, int timeout_ms) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            const auto w = find_windows(title, prefix);
            if (!w.empty())
                return w.front();
            if (std::chrono::steady_clock::now() >= end)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::string window_name(Window w) const
    {
        XTextProperty prop;
        std::string name;
        Atom utf8 = XInternAtom(m_dpy, "UTF8_STRING", False);
        Atom netName = XInternAtom(m_dpy, "_NET_WM_NAME", False);
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_dpy, w, netName, 0, 4096, False, utf8, &type, &format, &count, &after, &data) ==
                Success &&
            data) {
            name.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
            return name;
        }
        if (XGetWMName(m_dpy, w, &prop) && prop.value) {
            name.assign(reinterpret_cast<char*>(prop.value), prop.nitems);
            XFree(prop.value);
        }
        return name;
    }

    // The window's rectangle in root coordinates.
    QRect geometry(Window w) const
    {
        XSync(m_dpy, False);
        XWindowAttributes a;
        if (!XGetWindowAttributes(m_dpy, w, &a))
            return QRect();
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(m_dpy, w, DefaultRootWindow(m_dpy), 0, 0, &x, &y, &child);
        return QRect(x, y, a.width, a.height);
    }

    // The whole screen as 32-bit RGB.
    QImage screenshot() const
    {
        XSync(m_dpy, False);
        const Window root = DefaultRootWindow(m_dpy);
        XWindowAttributes a;
        XGetWindowAttributes(m_dpy, root, &a);
        XImage* xi = XGetImage(m_dpy, root, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
        if (!xi)
            return QImage();
        QImage img(a.width, a.height, QImage::Format_RGB32);
        if (xi->bits_per_pixel == 32) {
            for (int y = 0; y < a.height; ++y)
                std::memcpy(img.scanLine(y), xi->data + size_t(y) * size_t(xi->bytes_per_line), size_t(a.width) * 4);
        } else {
            for (int y = 0; y < a.height; ++y)
                for (int x = 0; x < a.width; ++x) {
                    const unsigned long p = XGetPixel(xi, x, y);
                    img.setPixel(x, y, qRgb(int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)));
                }
        }
        XDestroyImage(xi);
        return img;
    }

    void click(int x, int y, unsigned button = 1) const
    {
        XTestFakeMotionEvent(m_dpy, -1, x, y, CurrentTime);
        XSync(m_dpy, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        XTestFakeButtonEvent(m_dpy, button, True, CurrentTime);
        XSync(m_dpy, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        XTestFakeButtonEvent(m_dpy, button, False, CurrentTime);
        XSync(m_dpy, False);
    }

    void move_pointer(int x, int y) const
    {
        XTestFakeMotionEvent(m_dpy, -1, x, y, CurrentTime);
        XSync(m_dpy, False);
    }

    // What a window manager sends when the user closes a window.
    void request_close(Window w) const
    {
        XEvent ev;
        std::memset(&ev, 0, sizeof ev);
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(m_dpy, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = long(XInternAtom(m_dpy, "WM_DELETE_WINDOW", False));
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_dpy, w, False, NoEventMask, &ev);
        XSync(m_dpy, False);
    }

private:
    void stop_server()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
        }
        m_pid = -1;
    }

    std::string m_name;
    pid_t m_pid = -1;
    Display* m_dpy = nullptr;
};
