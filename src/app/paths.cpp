#include "app/paths.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kvm_paths {

namespace {

const char kAppDirName[] = "h264video";

struct Layout
{
    QString exeDir;
    QString settings;
    QString state;
    bool portable = true;
};

QString xdg_state_home()
{
    // Qt before 6.7 has no state location; the rule is the XDG one: an
    // absolute $XDG_STATE_HOME, else ~/.local/state.
    const QString env = qEnvironmentVariable("XDG_STATE_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env))
        return QDir::cleanPath(env);
    return QDir::homePath() + QStringLiteral("/.local/state");
}

Layout choose()
{
    Layout l;
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    l.exeDir = QFileInfo(exe.symLinkTarget()).absolutePath();
    // access() answers for the real user, the one whose files these are.
    l.portable = ::access(QFile::encodeName(l.exeDir).constData(), W_OK) == 0;
    if (l.portable) {
        l.settings = l.state = l.exeDir;
        return l;
    }
    l.settings = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
                 QLatin1String(kAppDirName);
    l.state = xdg_state_home() + QLatin1Char('/') + QLatin1String(kAppDirName);
    return l;
}

const Layout& layout()
{
    static const Layout l = choose();
    return l;
}

bool make_private_dir(const QString& path)
{
    QDir d(path);
    if (d.exists())
        return true;
    // Parents as the user's defaults; the viewer's own directory is private.
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) || d.exists();
}

}  // namespace

QString executable_dir()
{
    return layout().exeDir;
}

bool portable()
{
    return layout().portable;
}

QString settings_dir()
{
    return layout().settings;
}

QString state_dir()
{
    return layout().state;
}

QString settings_file(const QString& name)
{
    return QDir(settings_dir()).filePath(name);
}

QString log_dir()
{
    return QDir(state_dir()).filePath(QStringLiteral("log")) + QLatin1Char('/');
}

QString crash_file()
{
    return QDir(state_dir()).filePath(QStringLiteral("crash.dat"));
}

QString companion(const QString& name)
{
    return QDir(executable_dir()).filePath(name);
}

bool create_dirs()
{
    if (portable())
        return true;
    const bool a = make_private_dir(settings_dir());
    const bool b = make_private_dir(state_dir());
    return a && b;
}

}  // namespace kvm_paths
