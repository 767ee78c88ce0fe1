#include "app/display_check.h"

#include <QtGlobal>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

std::string g_program;
QtMessageHandler g_previous = nullptr;
struct held_message
{
    QtMsgType type;
    QString text;
};
QList<held_message>* g_held = nullptr;

std::string env_text(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v ? std::string(name) + "=" + v : std::string(name) + " unset";
}

std::string base_name(const char* program)
{
    const char* slash = program ? std::strrchr(program, '/') : nullptr;
    return slash ? slash + 1 : (program && *program ? program : "H264Video");
}

void guard_handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        if (g_held)
            g_held->append(held_message{type, text});
        else if (g_previous)
            g_previous(type, context, text);
        return;
    }
    const std::string line = g_program + ": cannot open a display (" + env_text("DISPLAY") + ", " +
                             env_text("WAYLAND_DISPLAY") + ")\n";
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    ::_exit(1);
}

}  // namespace

std::string missing_display_text(const char* program)
{
    const char* p = std::getenv("QT_QPA_PLATFORM");
    const std::string platform = p ? p : "";
    const bool x11 = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
    const bool wayland = (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY")) ||
                         (std::getenv("WAYLAND_SOCKET") && *std::getenv("WAYLAND_SOCKET"));
    bool missing;
    if (platform.find(';') != std::string::npos)
        missing = false;  // a list of platforms: Qt falls back by itself
    else if (platform.empty())
        missing = !x11 && !wayland;
    else if (platform.rfind("xcb", 0) == 0)
        missing = !x11;
    else if (platform.rfind("wayland", 0) == 0)
        missing = !wayland;
    else
        missing = false;  // offscreen, vnc and the like need no display
    if (!missing)
        return std::string();
    return base_name(program) + ": no display: neither DISPLAY nor WAYLAND_DISPLAY names one" +
           (platform.empty() ? std::string() : " for QT_QPA_PLATFORM=" + platform) + "\n";
}

void begin_display_guard(const char* program)
{
    g_program = base_name(program);
    g_held = new QList<held_message>();
    g_previous = qInstallMessageHandler(guard_handler);
}

void end_display_guard()
{
    qInstallMessageHandler(g_previous);
    QList<held_message>* held = g_held;
    g_held = nullptr;
    if (!held)
        return;
    for (const held_message& m : *held) {
        switch (m.type) {
        case QtDebugMsg:
            qDebug("%s", qPrintable(m.text));
            break;
        case QtInfoMsg:
            qInfo("%s", qPrintable(m.text));
            break;
        default:
            qWarning("%s", qPrintable(m.text));
            break;
        }
    }
    delete held;
}
