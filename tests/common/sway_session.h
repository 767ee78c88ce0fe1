#pragma once
// A headless sway for one end-to-end test: its own runtime directory and
// configuration, the Wayland socket named by absolute path (so clients need
// no XDG_RUNTIME_DIR of its), driven with swaymsg, wtype and grim, ended by
// its process id. sway refuses to run as root; a root test runs it as
// "nobody", whose socket root may still use.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <string>
#include <thread>

#include "common/wait_until.h"

class sway_session
{
public:
    // Starts sway with one headless output of width x height and the given
    // extra configuration lines (%SHARED% in them: shared_dir()); ok() tells
    // whether it came up within 20 s.
    sway_session(int width, int height, const QString& extraConfig = QString())
    {
        if (!m_dir.isValid())
            return;
        const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
        m_shared = m_dir.filePath(QStringLiteral("shared"));
        QDir().mkpath(runtime);
        QDir().mkpath(m_shared);
        QFile config(m_dir.filePath(QStringLiteral("config")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("output HEADLESS-1 resolution %1x%2 position 0 0\n"
                                    "default_border none\n"
                                    "xwayland disable\n"
                                    "focus_follows_mouse no\n"
                                    // Without a seat section sway grants no pointer lock.
                                    "seat * pointer_constraint enable\n")
                         .arg(width)
                         .arg(height)
                         .toUtf8());
        config.write(QString(extraConfig).replace(QStringLiteral("%SHARED%"), m_shared).toUtf8());
        config.close();

        uid_t uid = geteuid();
        gid_t gid = getegid();
        if (uid == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody)
                return;
            uid = nobody->pw_uid;
            gid = nobody->pw_gid;
            // The directory is the test's; sway needs to read its config and
            // own its runtime directory, and its bindings write to shared/.
            chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
            chmod(QFile::encodeName(config.fileName()).constData(), 0644);
            chmod(QFile::encodeName(m_shared).constData(), 0777);
            if (chown(QFile::encodeName(runtime).constData(), uid, gid) != 0)
                return;
        }
        chmod(QFile::encodeName(runtime).constData(), 0700);

        const QByteArray runtimeC = QFile::encodeName(runtime);
        const QByteArray configC = QFile::encodeName(config.fileName());
        const QByteArray home = QFile::encodeName(m_dir.path());
        const bool dropRoot = geteuid() == 0;
        const std::string uidArg = "--reuid=" + std::to_string(uid);
        const std::string gidArg = "--regid=" + std::to_string(gid);
        m_pid = fork();
        if (m_pid == 0) {
            setenv("XDG_RUNTIME_DIR", runtimeC.constData(), 1);
            setenv("HOME", home.constData(), 1);
            setenv("WLR_BACKENDS", "headless", 1);
            setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
            setenv("WLR_RENDERER", "pixman", 1);
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("DISPLAY");
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            if (!getenv("KVM_TEST_SWAY_LOG")) {
                dup2(null, 1);
                dup2(null, 2);
            }
            if (dropRoot) {
                // setpriv sets the parent-death signal after the change of
                // user, which would otherwise clear it.
                execlp("setpriv", "setpriv", uidArg.c_str(), gidArg.c_str(), "--clear-groups", "--pdeathsig",
                       "SIGTERM", "sway", "-c", configC.constData(), static_cast<char*>(nullptr));
            } else {
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                execlp("sway", "sway", "-c", configC.constData(), static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        if (m_pid < 0)
            return;
        // Up when both sockets exist and sway answers on its IPC socket.
        m_ok = wait_until(
            [&] {
                const QDir d(runtime);
                const QStringList sockets = d.entryList({QStringLiteral("wayland-*")}, QDir::System);
                const QStringList ipc = d.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
                for (const QString& s : sockets)
                    if (!s.endsWith(QLatin1String(".lock")))
                        m_wayland = d.filePath(s);
                if (!ipc.isEmpty())
                    m_ipc = d.filePath(ipc.first());
                return !m_wayland.isEmpty() && !m_ipc.isEmpty() && running() &&
                       !msg({QStringLiteral("-t"), QStringLiteral("get_outputs")}).isEmpty();
            },
            20000, 50);
    }

    ~sway_session() { stop(); }

    sway_session(const sway_session&) = delete;
    sway_session& operator=(const sway_session&) = delete;

    bool ok() const { return m_ok; }
    // The absolute path of the Wayland socket, for WAYLAND_DISPLAY.
    const QString& wayland_display() const { return m_wayland; }
    // A directory the compositor's own commands (bindings) can write to.
    const QString& shared_dir() const { return m_shared; }

    bool running() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }

    // The environment of a client of this compositor (no X display).
    QProcessEnvironment client_environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_wayland);
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_SOCKET"));
        return env;
    }

    // One swaymsg call; its standard output (empty on failure).
    QByteArray msg(const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(client_environment());
        p.start(QStringLiteral("swaymsg"), QStringList{QStringLiteral("-s"), m_ipc} + args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(5000);
            return QByteArray();
        }
        return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
    }

    // A client program run to its end (wtype ...), bounded.
    bool run(const QString& program, const QStringList& args) const
    {
        QProcess p;
        p.setProcessEnvironment(client_environment());
        p.start(program, args);
        if (!p.waitForFinished(15000)) {
            p.kill();
            p.waitForFinished(5000);
            return false;
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // The output as sway composes it (grim).
    QImage screenshot() const
    {
        QProcess p;
        p.setProcessEnvironment(client_environment());
        p.start(QStringLiteral("grim"), {QStringLiteral("-t"), QStringLiteral("ppm"), QStringLiteral("-")});
        if (!p.waitForFinished(15000)) {
            p.kill();
            p.waitForFinished(5000);
            return QImage();
        }
        return QImage::fromData(p.readAllStandardOutput(), "PPM").convertToFormat(QImage::Format_RGB32);
    }

    // The first window (node with a pid) whose app_id is appId: its JSON
    // node from the tree, empty when there is none.
    QJsonObject window(const QString& appId) const
    {
        const QJsonObject tree = QJsonDocument::fromJson(msg({QStringLiteral("-t"), QStringLiteral("get_tree")})).object();
        return find_node(tree, appId);
    }

    // A headless seat has no keyboard until a client makes one, and a window
    // shown then gets its first key before it knows it has the focus. A wtype
    // that only waits keeps a keyboard in the seat until stop().
    bool keep_keyboard()
    {
        m_keyboard.setProcessEnvironment(client_environment());
        m_keyboard.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_keyboard.start(QStringLiteral("wtype"), {QStringLiteral("-s"), QStringLiteral("3600000")});
        if (!m_keyboard.waitForStarted(10000))
            return false;
        // Up once the seat says it has a keyboard.
        return wait_until(
            [&] {
                const QJsonArray seats = QJsonDocument::fromJson(msg({QStringLiteral("-t"), QStringLiteral("get_seats")}))
                                             .array();
                for (const QJsonValue& seat : seats)
                    for (const QJsonValue& dev : seat.toObject().value(QStringLiteral("devices")).toArray())
                        if (dev.toObject().value(QStringLiteral("type")).toString() == QLatin1String("keyboard"))
                            return true;
                return false;
            },
            10000, 50);
    }

    void stop()
    {
        if (m_keyboard.state() != QProcess::NotRunning) {
            m_keyboard.kill();
            m_keyboard.waitForFinished(5000);
        }
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status = 0;
        const bool ended = wait_until([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, 5000, 20);
        if (!ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }

private:
    static QJsonObject find_node(const QJsonObject& node, const QString& appId)
    {
        if (node.value(QStringLiteral("app_id")).toString() == appId)
            return node;
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(QLatin1String(key)).toArray()) {
                const QJsonObject found = find_node(child.toObject(), appId);
                if (!found.isEmpty())
                    return found;
            }
        return QJsonObject();
    }

    QTemporaryDir m_dir;
    QProcess m_keyboard;
    QString m_shared;
    QString m_wayland;
    QString m_ipc;
    pid_t m_pid = -1;
    bool m_ok = false;
};
