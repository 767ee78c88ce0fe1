// The viewer's start-up and ending as a real process: the command line, a
// crash record for a failed Qt start, the ways it is asked to end from
// outside (SIGTERM, the window destroyed by another client), the launch
// string kept out of the process list, the log, and where a copy the user
// may not write beside keeps its files. Devsim on loopback, Xvfb.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "common/devsim_events.h"
#include "common/devsim_process.h"
#include "common/wait_until.h"
#include "common/x11_display.h"

namespace {

const int kBoundMs = 20000;

// Children get no core file (the intended crash) and end with the test.
void quiet_child()
{
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

QProcessEnvironment base_env()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

// Runs the viewer to its end without a display; returns false after the bound.
bool run_to_end(QProcess& p, const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    p.setProcessEnvironment(env);
    p.setChildProcessModifier(quiet_child);
    p.start(program, args);
    if (!p.waitForStarted(kBoundMs))
        return false;
    if (p.waitForFinished(kBoundMs))
        return true;
    p.kill();
    p.waitForFinished(kBoundMs);
    return false;
}

QString str(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

// Every file below dir (recursively).
QStringList files_below(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    return out;
}

class AppE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(x.ok()) << "Xvfb did not start";
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        events_file = dir.filePath(QStringLiteral("events.jsonl"));
        ASSERT_TRUE(dev.start(QStringLiteral(DEVSIM_PATH),
                              {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--fps"),
                               QStringLiteral("15"), QStringLiteral("--events"), events_file},
                              dir.path()));
    }

    // Starts the viewer on the test's X server; launch goes to standard input when given.
    void start_viewer(const QString& program, const QStringList& args, QProcessEnvironment env,
                      const QByteArray& stdinText = QByteArray())
    {
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.name()));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        viewer.setProcessEnvironment(env);
        viewer.setChildProcessModifier(quiet_child);
        viewer.start(program, args);
        ASSERT_TRUE(viewer.waitForStarted(kBoundMs));
        if (!stdinText.isEmpty()) {
            viewer.write(stdinText);
            // No event loop here: the bytes leave only while waited for.
            EXPECT_TRUE(viewer.waitForBytesWritten(kBoundMs));
            viewer.closeWriteChannel();
        }
    }

    // The window is up and devsim has the KM, video and media channels.
    Window wait_session()
    {
        const Window w = x.wait_window("Orvane", true, kBoundMs);
        EXPECT_NE(w, Window(0)) << viewer.readAllStandardError().constData();
        const bool up = wait_until(
            [&] {
                bool media = false;
                for (const QJsonObject& o : read_devsim_events(events_file))
                    if (str(o, "event") == QLatin1String("connect") && str(o, "channel") == QLatin1String("media"))
                        media = true;
                const QString s = dev.command(QStringLiteral("status"));
                return media && s.contains(QLatin1String("\"km\":true")) &&
                       s.contains(QRegularExpression(QStringLiteral("\"pictures\":[1-9]")));
            },
            kBoundMs, 100);
        EXPECT_TRUE(up) << dev.command(QStringLiteral("status")).toStdString();
        return w;
    }

    int wait_exit()
    {
        if (!viewer.waitForFinished(kBoundMs)) {
            viewer.kill();
            viewer.waitForFinished(kBoundMs);
            return -1000;
        }
        return viewer.exitStatus() == QProcess::NormalExit ? viewer.exitCode() : -2000;
    }

    // The name of the last message devsim received on the media channel.
    QString last_media_message()
    {
        QString last;
        for (const QJsonObject& o : read_devsim_events(events_file))
            if (str(o, "event") == QLatin1String("recv") && str(o, "channel") == QLatin1String("media"))
                last = o.value(QLatin1String("fields")).toObject().value(QLatin1String("name")).toString();
        return last;
    }

    bool media_disconnected()
    {
        for (const QJsonObject& o : read_devsim_events(events_file))
            if (str(o, "event") == QLatin1String("disconnect") && str(o, "channel") == QLatin1String("media"))
                return true;
        return false;
    }

    QString copy_viewer(const QString& into)
    {
        QDir().mkpath(into);
        const QString exe = QDir(into).filePath(QStringLiteral("H264Video"));
        EXPECT_TRUE(QFile::copy(QStringLiteral(VIEWER_PATH), exe));
        ::chmod(QFile::encodeName(into).constData(), 0755);
        ::chmod(QFile::encodeName(exe).constData(), 0755);
        return exe;
    }

    // A copy that keeps its files beside itself says so with a marker.
    QString copy_portable_viewer(const QString& into)
    {
        const QString exe = copy_viewer(into);
        QFile marker(QDir(into).filePath(QStringLiteral("h264video-portable")));
        EXPECT_TRUE(marker.open(QFile::WriteOnly));
        return exe;
    }

    QTemporaryDir dir;
    x11_display x;
    devsim_process dev;
    QProcess viewer;
    QString events_file;
};

}  // namespace

TEST(AppCommandLine, AnsweredBeforeQtStarts)
{
    // No display: anything that reached Qt's start-up would abort.
    QProcessEnvironment env = base_env();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QString exe = QStringLiteral(VIEWER_PATH);
    for (const char* opt : {"--help", "-h"}) {
        QProcess p;
        ASSERT_TRUE(run_to_end(p, exe, {QString::fromLatin1(opt)}, env)) << opt;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << opt;
        EXPECT_EQ(p.exitCode(), 0) << opt;
        const QByteArray out = p.readAllStandardOutput();
        EXPECT_TRUE(out.startsWith("Usage: H264Video")) << out.constData();
        EXPECT_TRUE(out.contains("--log-level")) << out.constData();
    }
    QProcess v;
    ASSERT_TRUE(run_to_end(v, exe, {QStringLiteral("--version")}, env));
    EXPECT_EQ(v.exitCode(), 0);
    // A bug report needs the build and the libraries really loaded.
    const QByteArray version = v.readAllStandardOutput();
    EXPECT_TRUE(version.startsWith("H264Video 2.")) << version.constData();
    EXPECT_TRUE(version.contains("(git ")) << version.constData();
    EXPECT_TRUE(version.contains(QByteArray("Qt ") + qVersion())) << version.constData();
    EXPECT_TRUE(version.contains("FFmpeg ") && version.contains("libavcodec ")) << version.constData();
    // The build id is the one debug symbols are filed under.
    QProcess elf;
    ASSERT_TRUE(run_to_end(elf, QStringLiteral("readelf"), {QStringLiteral("-n"), exe}, env));
    const QByteArray notes = elf.readAllStandardOutput();
    const int at = notes.indexOf("Build ID: ");
    ASSERT_GE(at, 0) << notes.constData();
    const QByteArray id = notes.mid(at + 10, notes.indexOf('\n', at) - at - 10).trimmed();
    EXPECT_TRUE(version.contains("build id " + id + "\n")) << version.constData() << id.constData();

    for (const QStringList& bad : {QStringList{QStringLiteral("--bogus")},
                                   QStringList{QStringLiteral("--log-level"), QStringLiteral("loud")},
                                   QStringList{QStringLiteral("{ip:127.0.0.1}"), QStringLiteral("-x")}}) {
        QProcess p;
        ASSERT_TRUE(run_to_end(p, exe, bad, env)) << bad.join(' ').toStdString();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << bad.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains("Usage:")) << bad.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
}

TEST(AppStart, WithoutADisplayOneLineExitOneAndNoCrashRecord)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath(QStringLiteral("H264Video"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VIEWER_PATH), exe));
    // A portable copy: a crash record would be written beside it.
    QFile marker(dir.filePath(QStringLiteral("h264video-portable")));
    ASSERT_TRUE(marker.open(QFile::WriteOnly));
    // No display named at all, and one named that cannot be opened.
    for (const char* display : {"", ":97"}) {
        SCOPED_TRACE(display);
        QProcessEnvironment env = base_env();
        env.remove(QStringLiteral("DISPLAY"));
        if (*display)
            env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
        QProcess p;
        ASSERT_TRUE(run_to_end(p, exe, {QStringLiteral("{ip:127.0.0.1}")}, env));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        EXPECT_EQ(err.count('\n'), 1) << err.constData();
        EXPECT_TRUE(err.contains("DISPLAY")) << err.constData();
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("crash.dat"))));
    }
}

TEST(AppStart, ALaunchStringOnStandardInputThatDoesNotComeEndsWithExitTwo)
{
    // Before any display is needed: none is given.
    QProcessEnvironment env = base_env();
    env.remove(QStringLiteral("DISPLAY"));
    // Kept open without a line end: given up after 10 s.
    QProcess open;
    open.setProcessEnvironment(env);
    open.setChildProcessModifier(quiet_child);
    open.start(QStringLiteral(VIEWER_PATH), {QStringLiteral("-")});
    ASSERT_TRUE(open.waitForStarted(kBoundMs));
    open.write("{ip:127.0.0.1");
    ASSERT_TRUE(open.waitForBytesWritten(kBoundMs));
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(open.waitForFinished(kBoundMs));
    EXPECT_GE(took.elapsed(), 9000);
    EXPECT_EQ(open.exitCode(), 2);
    EXPECT_TRUE(open.readAllStandardError().contains("within 10 s"));

    for (const QByteArray& bad : {QByteArray("\n"), QByteArray("{ip:1\0}\n", 8)}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setChildProcessModifier(quiet_child);
        p.start(QStringLiteral(VIEWER_PATH), {QStringLiteral("-")});
        ASSERT_TRUE(p.waitForStarted(kBoundMs));
        p.write(bad);
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(kBoundMs));
        EXPECT_EQ(p.exitCode(), 2);
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(err.contains(bad.size() == 1 ? "is empty" : "NUL byte")) << err.constData();
    }
}

TEST_F(AppE2E, ACrashRecordNamesTheBuildAsVersionDoes)
{
    const QString exe = copy_portable_viewer(dir.filePath(QStringLiteral("portable")));
    start_viewer(exe, {dev.launch}, base_env());
    wait_session();
    ASSERT_EQ(::kill(pid_t(viewer.processId()), SIGSEGV), 0);
    ASSERT_TRUE(viewer.waitForFinished(kBoundMs));
    EXPECT_EQ(viewer.exitStatus(), QProcess::CrashExit);
    QFile rec(dir.filePath(QStringLiteral("portable/crash.dat")));
    ASSERT_TRUE(rec.open(QFile::ReadOnly));
    const QByteArray record = rec.readAll();
    EXPECT_TRUE(record.contains("SIGSEGV"));
    QProcess v;
    ASSERT_TRUE(run_to_end(v, exe, {QStringLiteral("--version")}, base_env()));
    const QByteArray version = v.readAllStandardOutput();
    ASSERT_FALSE(version.isEmpty());
    EXPECT_TRUE(record.contains("build:\n" + version)) << record.left(600).constData();
}

TEST_F(AppE2E, SigtermEndsLikeClosingTheWindowAndTheKeysAreNotListed)
{
    const QString exe = copy_portable_viewer(dir.filePath(QStringLiteral("portable")));
    QProcessEnvironment env = base_env();
    // A writable copy keeps its files beside itself, never in these.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("cfg")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), dir.filePath(QStringLiteral("state")));
    // A link planted at the size file is replaced, never written through.
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    {
        QFile n(notes);
        ASSERT_TRUE(n.open(QFile::WriteOnly));
        n.write("my notes\n");
    }
    ASSERT_TRUE(QFile::link(notes, dir.filePath(QStringLiteral("portable/clientSize.config"))));
    start_viewer(exe, {dev.launch}, env);
    wait_session();

    // The process list no longer shows the launch string or its keys.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(viewer.processId()));
    ASSERT_TRUE(cmdline.open(QFile::ReadOnly));
    const QByteArray listed = cmdline.readAll();
    EXPECT_FALSE(listed.contains("desEncode")) << listed.constData();
    EXPECT_FALSE(listed.contains("%7B")) << listed.constData();

    ASSERT_EQ(::kill(pid_t(viewer.processId()), SIGTERM), 0);
    EXPECT_EQ(wait_exit(), 0) << viewer.readAllStandardError().constData();
    const QFileInfo size_file(dir.filePath(QStringLiteral("portable/clientSize.config")));
    EXPECT_TRUE(size_file.isFile() && !size_file.isSymLink());
    QFile n(notes);
    ASSERT_TRUE(n.open(QFile::ReadOnly));
    EXPECT_EQ(n.readAll(), QByteArray("my notes\n"));
    ASSERT_TRUE(wait_until([&] { return media_disconnected(); }, kBoundMs));
    EXPECT_EQ(last_media_message(), QStringLiteral("unmap"));

    // The session's log is beside the executable too, stopped and complete.
    bool logged = false;
    for (const QString& f : files_below(dir.filePath(QStringLiteral("portable/log")))) {
        QFile lf(f);
        if (lf.open(QFile::ReadOnly) && lf.readAll().contains("qt start"))
            logged = true;
    }
    EXPECT_TRUE(logged);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("cfg/h264video"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("state/h264video"))));
}

TEST_F(AppE2E, DestroyedWindowEndsTheProgramLaunchFromStdinLogOff)
{
    const QString exe = copy_portable_viewer(dir.filePath(QStringLiteral("portable")));
    start_viewer(exe, {QStringLiteral("--log-level"), QStringLiteral("off"), QStringLiteral("-")}, base_env(),
                 dev.launch.toLatin1() + "\n");
    const Window w = wait_session();
    ASSERT_NE(w, Window(0));

    QProcess xdotool;
    QProcessEnvironment env = base_env();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.name()));
    xdotool.setProcessEnvironment(env);
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("windowclose"), QString::number(w)});
    ASSERT_TRUE(xdotool.waitForFinished(kBoundMs));
    EXPECT_EQ(wait_exit(), 0) << viewer.readAllStandardError().constData();
    ASSERT_TRUE(wait_until([&] { return media_disconnected(); }, kBoundMs));
    EXPECT_EQ(last_media_message(), QStringLiteral("unmap"));
    EXPECT_TRUE(files_below(dir.filePath(QStringLiteral("portable/log"))).isEmpty());
}

TEST_F(AppE2E, InstalledCopyKeepsItsFilesInXdgDirectoriesWhoeverRunsIt)
{
    // Without a marker, a copy its user may write beside (root and
    // /usr/bin, a user and ~/.local/bin) still leaves nothing there.
    const QString bin = dir.filePath(QStringLiteral("prefix/bin"));
    const QString exe = copy_viewer(bin);
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    QProcessEnvironment env = base_env();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/cfg"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
    start_viewer(exe, {dev.launch}, env);
    const Window w = wait_session();
    ASSERT_NE(w, Window(0));
    x.request_close(w);
    EXPECT_EQ(wait_exit(), 0) << viewer.readAllStandardError().constData();

    EXPECT_TRUE(QFileInfo::exists(home + QStringLiteral("/cfg/h264video/clientSize.config")));
    EXPECT_EQ(QDir(bin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("H264Video")});
    for (const char* sub : {"/cfg/h264video", "/state/h264video"}) {
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(home + QLatin1String(sub)).constData(), &st), 0) << sub;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << sub;
    }
    EXPECT_FALSE(files_below(home + QStringLiteral("/state/h264video/log")).isEmpty());
}

TEST_F(AppE2E, TheDesktopEntryAsksForALaunchStringAndOpensTheSession)
{
    // The installed entry's command, with this build's viewer for the program.
    QFile entry(QStringLiteral(KVM_SOURCE_DIR "/packaging/io.github.h264video.H264Video.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    QStringList command;
    for (const QByteArray& line : entry.readAll().split('\n'))
        if (line.startsWith("Exec="))
            command = QString::fromUtf8(line.mid(5)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_FALSE(command.isEmpty());
    EXPECT_EQ(command.first(), QStringLiteral("H264Video"));
    command.removeFirst();
    start_viewer(QStringLiteral(VIEWER_PATH), command, base_env());
    const Window dialog = x.wait_window("Connect", true, kBoundMs);
    ASSERT_NE(dialog, Window(0)) << viewer.readAllStandardError().constData();

    // The launch string on the clipboard, pasted into the field.
    QProcess clip;
    QProcessEnvironment env = base_env();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.name()));
    clip.setProcessEnvironment(env);
    clip.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                         QStringLiteral("clipboard")});
    ASSERT_TRUE(clip.waitForStarted(kBoundMs));
    clip.write(dev.launch.toLatin1());
    clip.closeWriteChannel();
    ASSERT_TRUE(clip.waitForBytesWritten(kBoundMs) || clip.bytesToWrite() == 0);
    // No window manager here: the dialog is given the keyboard as one would.
    ASSERT_TRUE(x.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(dialog)}));
    EXPECT_TRUE(x.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"),
                           QStringLiteral("ctrl+v"), QStringLiteral("Return")}));
    const Window w = wait_session();
    clip.kill();
    clip.waitForFinished(kBoundMs);
    ASSERT_NE(w, Window(0));
    ::kill(pid_t(viewer.processId()), SIGTERM);
    EXPECT_EQ(wait_exit(), 0);
}
