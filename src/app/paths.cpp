#include "app/paths.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "tools/files/safe_file.h"

namespace kvm_paths {

namespace {

const char kAppDirName[] = "h264video";
const char kPortableMarker[] = "h264video-portable";

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

// A build tree holds the executables a few levels below its CMakeCache.txt.
bool in_build_tree(const QString& exeDir)
{
    QDir d(exeDir);
    for (int up = 0; up < 4 && d.cdUp(); ++up)
        if (d.exists(QStringLiteral("CMakeCache.txt")))
            return true;
    return false;
}

Layout choose()
{
    Layout l;
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    l.exeDir = QFileInfo(exe.symLinkTarget()).absolutePath();
    // Beside the executable only when asked for: a marker file there, or a
    // build tree. Being able to write there says nothing (root can write to
    // /usr/bin, a user to ~/.local/bin) and would leave files behind that
    // the package manager does not know.
    const QDir dir(l.exeDir);
    l.portable = QFileInfo::exists(dir.filePath(QLatin1String(kPortableMarker))) || in_build_tree(l.exeDir);
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
    bool shared = false;
    if (!safe_file::make_private_dir(path, &shared))
        return false;
    // Before the log exists: the warning goes to standard error.
    if (shared)
        std::fprintf(stderr, "H264Video: warning: %s is writable by other users\n", QFile::encodeName(path).constData());
    return true;
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
