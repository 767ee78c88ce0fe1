#pragma once
// Which Qt platform plug-in the viewer starts on when the user did not choose
// one (QT_QPA_PLATFORM). In a Wayland session the viewer runs as a native
// Wayland client when the compositor offers what a KVM console needs (the
// keyboard-shortcuts inhibitor, or pointer constraints with relative pointer
// motion) and Qt's Wayland plug-in is installed; otherwise on the session's X
// server (XWayland) when there is one. Outside a Wayland session Qt decides.
#include <QByteArray>
#include <QString>
#include <QStringList>

struct qt_platform_choice
{
    QByteArray platform;  // for "-platform"; empty: Qt's own choice
    QString why;          // for the log
};

// What a Wayland compositor offers, from its registry.
struct wayland_offer
{
    bool reachable = false;
    bool xdgShell = false;
    bool shortcutsInhibit = false;
    bool pointerConstraints = false;
    bool relativePointer = false;
};

// Connects to the compositor named by the environment, lists its globals and
// disconnects; gives up after timeoutMs.
wayland_offer probe_wayland(int timeoutMs = 2000);

// The decision, from the environment's values and what was found.
qt_platform_choice decide_qt_platform(const QByteArray& qtQpaPlatform, const QByteArray& waylandDisplay,
                                      const QByteArray& x11Display, bool waylandPluginInstalled,
                                      const wayland_offer& offer);

// The decision for this process (reads the environment, probes the compositor).
qt_platform_choice choose_qt_platform();
