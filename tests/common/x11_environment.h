#pragma once
// The environment of a program a test starts on its own X server: the test's
// display, and nothing that would send it to the developer's Wayland desktop
// instead (Qt and the viewer prefer Wayland when WAYLAND_DISPLAY is set).
#include <QProcessEnvironment>
#include <QString>

inline QProcessEnvironment x11_environment(const QString& display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_SOCKET"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}
