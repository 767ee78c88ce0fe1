#include "platform/platform_choice.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <wayland-client.h>

namespace {

void on_global(void* data, wl_registry*, uint32_t, const char* interface, uint32_t)
{
    auto* offer = static_cast<wayland_offer*>(data);
    if (std::strcmp(interface, "xdg_wm_base") == 0)
        offer->xdgShell = true;
    else if (std::strcmp(interface, "zwp_keyboard_shortcuts_inhibit_manager_v1") == 0)
        offer->shortcutsInhibit = true;
    else if (std::strcmp(interface, "zwp_pointer_constraints_v1") == 0)
        offer->pointerConstraints = true;
    else if (std::strcmp(interface, "zwp_relative_pointer_manager_v1") == 0)
        offer->relativePointer = true;
}

void on_global_remove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener REGISTRY = {on_global, on_global_remove};

void on_done(void* data, wl_callback*, uint32_t)
{
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener DONE = {on_done};

bool wayland_plugin_installed()
{
    // Qt looks in its plug-in directory and in QT_PLUGIN_PATH.
    QStringList dirs = {QLibraryInfo::path(QLibraryInfo::PluginsPath)};
    dirs += QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& d : dirs) {
        const QDir platforms(d + QStringLiteral("/platforms"));
        if (!platforms.entryList({QStringLiteral("libqwayland-*.so")}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

}  // namespace

wayland_offer probe_wayland(int timeoutMs)
{
    wayland_offer offer;
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return offer;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &REGISTRY, &offer);
    bool done = false;
    wl_callback* sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &DONE, &done);
    // A compositor that does not answer must not keep the viewer from starting.
    bool failed = false;
    int left = timeoutMs;
    while (!done && !failed && left > 0) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            failed = true;
            break;
        }
        pollfd p{wl_display_get_fd(display), POLLIN, 0};
        const int n = poll(&p, 1, 100);
        left -= 100;
        if (n > 0) {
            failed = wl_display_read_events(display) < 0;
        } else {
            wl_display_cancel_read(display);
            failed = n < 0 && errno != EINTR;
        }
        if (!failed)
            wl_display_dispatch_pending(display);
    }
    offer.reachable = done;
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offer;
}

qt_platform_choice decide_qt_platform(const QByteArray& qtQpaPlatform, const QByteArray& waylandDisplay,
                                      const QByteArray& x11Display, bool waylandPluginInstalled,
                                      const wayland_offer& offer)
{
    if (!qtQpaPlatform.isEmpty())
        return {QByteArray(), QStringLiteral("QT_QPA_PLATFORM=%1 chosen by the user").arg(QString::fromLocal8Bit(qtQpaPlatform))};
    if (waylandDisplay.isEmpty())
        return {QByteArray(), QStringLiteral("no Wayland session")};
    const QByteArray fallback = x11Display.isEmpty() ? QByteArray() : QByteArrayLiteral("xcb");
    if (!waylandPluginInstalled)
        return {fallback, QStringLiteral("Qt's Wayland plug-in (qt6-wayland) is not installed")};
    if (!offer.reachable)
        return {fallback, QStringLiteral("the Wayland compositor did not answer")};
    if (!offer.xdgShell)
        return {fallback, QStringLiteral("the Wayland compositor offers no xdg-shell")};
    const bool input = offer.shortcutsInhibit || (offer.pointerConstraints && offer.relativePointer);
    if (!input && !fallback.isEmpty())
        return {fallback, QStringLiteral("the Wayland compositor offers neither keyboard-shortcuts-inhibit nor "
                                         "pointer constraints; XWayland instead")};
    return {QByteArrayLiteral("wayland"),
            QStringLiteral("Wayland session: shortcuts inhibitor %1, pointer lock %2")
                .arg(offer.shortcutsInhibit ? QStringLiteral("yes") : QStringLiteral("no"))
                .arg(offer.pointerConstraints && offer.relativePointer ? QStringLiteral("yes") : QStringLiteral("no"))};
}

qt_platform_choice choose_qt_platform()
{
    const QByteArray qpa = qgetenv("QT_QPA_PLATFORM");
    // A compositor that hands over a socket (WAYLAND_SOCKET) is left to Qt:
    // probing would use up the socket.
    const QByteArray wayland = qgetenv("WAYLAND_SOCKET").isEmpty() ? qgetenv("WAYLAND_DISPLAY") : QByteArray();
    const QByteArray x11 = qgetenv("DISPLAY");
    // Probing costs a connection: only when its answer can matter.
    const bool probe = qpa.isEmpty() && !wayland.isEmpty();
    const bool plugin = probe && wayland_plugin_installed();
    return decide_qt_platform(qpa, wayland, x11, plugin, plugin ? probe_wayland() : wayland_offer());
}
