#pragma once
// The devsim program and the viewer executable as child processes of an
// end-to-end test, with bounded waits; both are killed when the test ends.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <chrono>

#include <signal.h>
#include <sys/prctl.h>

#include "common/x11_environment.h"

// Children of a test end with it, even when the test dies.
inline void end_with_the_test(QProcess& p)
{
    p.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// devsim: the first output line is the viewer's launch string.
class devsim_process
{
public:
    ~devsim_process() { stop(); }

    bool start(const QString& program, const QStringList& args, const QString& dir)
    {
        proc.setWorkingDirectory(dir);
        end_with_the_test(proc);
        proc.setProgram(program);
        proc.setArguments(args);
        proc.setProcessChannelMode(QProcess::SeparateChannels);
        proc.start();
        if (!proc.waitForStarted(10000))
            return false;
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (out.count('\n') < 2 && std::chrono::steady_clock::now() < end)
            if (proc.waitForReadyRead(200))
                out += proc.readAllStandardOutput();
        const QList<QByteArray> lines = out.split('\n');
        if (lines.size() < 3)
            return false;
        launch = QString::fromLatin1(lines[0]).trimmed();
        return !launch.isEmpty();
    }

    // One command on standard input and its reply line.
    QString command(const QString& line)
    {
        proc.readAllStandardOutput();
        proc.write((line + QLatin1Char('\n')).toUtf8());
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!out.contains('\n') && std::chrono::steady_clock::now() < end)
            if (proc.waitForReadyRead(200))
                out += proc.readAllStandardOutput();
        return QString::fromUtf8(out).trimmed();
    }

    // The status reply ("ok {json}") as an object; empty without one.
    QJsonObject status()
    {
        const QString reply = command(QStringLiteral("status"));
        if (!reply.startsWith(QLatin1String("ok ")))
            return QJsonObject();
        return QJsonDocument::fromJson(reply.mid(3).toUtf8()).object();
    }

    // Where the remote pointer is; (-1, -1) when devsim does not say.
    QPoint pointer()
    {
        const QStringList xy = status().value(QStringLiteral("pointer")).toString().split(QLatin1Char(','));
        return xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint(-1, -1);
    }

    void stop()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.write("quit\n");
            if (!proc.waitForFinished(3000)) {
                proc.kill();
                proc.waitForFinished(5000);
            }
        }
    }

    // The launch string with one key's value replaced (e.g. portV).
    QString launch_with(const QString& key, const QString& value) const
    {
        QString s = launch;
        const QRegularExpression re(QStringLiteral("(%2C|%7B)") + key + QStringLiteral("%3A[^%]*"));
        const auto m = re.match(s);
        if (!m.hasMatch())
            return s;
        return s.replace(m.capturedStart(), m.capturedLength(), m.captured(1) + key + QStringLiteral("%3A") + value);
    }

    QProcess proc;
    QString launch;
};

// The viewer, started from its own directory copy so that the files it keeps
// beside the executable (clientSize.config, config.xml) belong to the test.
class viewer_process
{
public:
    ~viewer_process() { kill(); }

    static bool install(const QString& built, const QString& dir, QString* installed)
    {
        *installed = QDir(dir).filePath(QStringLiteral("H264Video"));
        QFile::remove(*installed);
        // A portable copy: its files stay in dir, never in the user's own.
        QFile marker(QDir(dir).filePath(QStringLiteral("h264video-portable")));
        return QFile::copy(built, *installed) && marker.open(QFile::WriteOnly);
    }

    bool start(const QString& program, const QString& launch, const QString& display)
    {
        proc.setProcessEnvironment(x11_environment(display));
        end_with_the_test(proc);
        proc.setProgram(program);
        proc.setArguments({launch});
        proc.start();
        return proc.waitForStarted(10000);
    }

    // Exit code when it ended within timeout_ms, else -1000.
    int wait_exit(int timeout_ms)
    {
        if (!proc.waitForFinished(timeout_ms))
            return -1000;
        return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2000;
    }

    QString error_output() { return QString::fromLocal8Bit(proc.readAllStandardError()); }

    void kill()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }

    QProcess proc;
};
