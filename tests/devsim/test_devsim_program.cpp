// The devsim program as people and scripts use it: the first output line is
// a launch string the viewer's start-up decodes to the device's real ports
// and keys; commands work on standard input and on the control port; quit
// and Ctrl+C end it with exit code 0.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

#include "scripted_client.h"
#include "session_params.h"
#include "tools/socket/c_msg_builder.h"

namespace {

struct running
{
    QProcess proc;
    QString launch;
    uint16_t control = 0;

    bool start(const QStringList& args, const QString& dir,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        proc.setProcessEnvironment(env);
        proc.setWorkingDirectory(dir);
        proc.setProgram(QStringLiteral(DEVSIM_PATH));
        proc.setArguments(args);
        proc.start();
        if (!proc.waitForStarted(10000))
            return false;
        // First line: the launch string; second: the ports.
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (out.count('\n') < 2 && std::chrono::steady_clock::now() < end)
            if (proc.waitForReadyRead(200))
                out += proc.readAllStandardOutput();
        const QList<QByteArray> lines = out.split('\n');
        if (lines.size() < 3)
            return false;
        launch = QString::fromLatin1(lines[0]);
        const auto m = QRegularExpression(QStringLiteral("control (\\d+)")).match(QString::fromLatin1(lines[1]));
        control = m.hasMatch() ? uint16_t(m.captured(1).toUInt()) : 0;
        return true;
    }

    // One command on standard input, its reply line.
    QString command(const QString& line)
    {
        proc.write((line + QLatin1Char('\n')).toUtf8());
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!out.contains('\n') && std::chrono::steady_clock::now() < end)
            if (proc.waitForReadyRead(200))
                out += proc.readAllStandardOutput();
        return QString::fromUtf8(out).trimmed();
    }

    ~running()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
};

}  // namespace

TEST(DevsimProgram, LaunchStringCommandsAndQuit)
{
    QTemporaryDir dir;
    // Files not named on the command line go under the runtime directory,
    // never into the working directory.
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("cwd")) && QDir(dir.path()).mkpath(QStringLiteral("run")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("run")));
    running d;
    ASSERT_TRUE(d.start({QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--des-encode"),
                         QStringLiteral("0123456789abcdef"), QStringLiteral("--user-name"), QStringLiteral("ann lee"),
                         QStringLiteral("--user-id"), QStringLiteral("77"), QStringLiteral("--dog-id"),
                         QStringLiteral("3"), QStringLiteral("--mouse-mode"), QStringLiteral("0"),
                         QStringLiteral("--size"), QStringLiteral("320x240")},
                        dir.filePath(QStringLiteral("cwd")), env));
    EXPECT_TRUE(d.launch.startsWith(QStringLiteral("%7BdesEncode%3A"))) << d.launch.toStdString();
    EXPECT_FALSE(d.launch.contains(QLatin1Char(' '))) << "one shell word";

    // The viewer's own start-up steps decode it.
    std::vector<char> buf(LAUNCH_BUFFER_SIZE);
    launch_prepare(d.launch.toLatin1().constData(), buf.data());
    // SessionParams is packed: its fields are read by value, never bound to references.
    SessionParams p = {};
    launch_parse(buf.data(), p);
    EXPECT_STREQ(p.ip, "127.0.0.1");
    EXPECT_STREQ(p.userNM, "ann lee");
    EXPECT_EQ(uint32_t(p.userID), 77u);
    EXPECT_EQ(uint32_t(p.dogID), 3u);
    EXPECT_EQ(uint32_t(p.mouseMode), 0u);
    ASSERT_EQ(int(p.desEncode.len), 8);
    const uint8_t enc[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    EXPECT_EQ(memcmp(p.desEncode.key, enc, 8), 0);
    EXPECT_EQ(int(p.desDecode.len), 8);
    ASSERT_NE(uint32_t(p.portV), 0u);
    ASSERT_NE(uint32_t(p.portKM), 0u);
    ASSERT_NE(uint32_t(p.portMedia), 0u);
    ASSERT_NE(d.control, 0);

    // The parsed ports are the device's: the video port answers the user id.
    scripted_channel video;
    ASSERT_TRUE(video.connect(uint16_t(uint32_t(p.portV))));
    ASSERT_TRUE(video.send(build_msg_50(77)));
    received_frame f;
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return x.type() == 50; }, 10000));
    EXPECT_EQ(f.body[1], 0);
    scripted_channel km;
    ASSERT_TRUE(km.connect(uint16_t(uint32_t(p.portKM))));
    // Connected is not yet accepted: "close km" before devsim has taken the
    // connection would find nothing to close.
    QElapsedTimer accepted;
    accepted.start();
    while (!d.command(QStringLiteral("status")).contains(QStringLiteral("\"km\":true")) && accepted.elapsed() < 10000)
        QThread::msleep(20);

    // Standard input.
    EXPECT_TRUE(d.command(QStringLiteral("led 5")).startsWith(QStringLiteral("ok led 5 sent")));
    ASSERT_TRUE(video.next_where(f, [](const received_frame& x) { return x.type() == 4; }, 10000));
    EXPECT_EQ(f.body, (std::vector<uint8_t>{4, 5}));
    EXPECT_TRUE(d.command(QStringLiteral("bogus")).startsWith(QStringLiteral("error")));
    const QString status = d.command(QStringLiteral("status"));
    EXPECT_TRUE(status.contains(QStringLiteral("\"video\":true"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("\"leds\":5"))) << status.toStdString();

    // The control port: "close km" drops the KM viewer; "quit" ends devsim.
    scripted_channel control;
    ASSERT_TRUE(control.connect(d.control));
    const char closeKm[] = "close km\n";
    ASSERT_TRUE(control.send_raw(closeKm, sizeof closeKm - 1));
    EXPECT_TRUE(km.wait_closed(10000));
    const char quit[] = "quit\n";
    ASSERT_TRUE(control.send_raw(quit, sizeof quit - 1));
    ASSERT_TRUE(d.proc.waitForFinished(10000));
    EXPECT_EQ(d.proc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(d.proc.exitCode(), 0);
    EXPECT_TRUE(video.wait_closed(5000)) << "the viewer's connection ends with devsim";
    // It said where the events went, and they are there.
    const QString said = QString::fromLocal8Bit(d.proc.readAllStandardError());
    const QRegularExpressionMatch where =
        QRegularExpression(QStringLiteral("events file (\\S+), image file (\\S+)")).match(said);
    ASSERT_TRUE(where.hasMatch()) << said.toStdString();
    const QString runDir = QDir(dir.filePath(QStringLiteral("run"))).canonicalPath() + QLatin1Char('/');
    EXPECT_TRUE(QFileInfo(where.captured(1)).canonicalFilePath().startsWith(runDir)) << said.toStdString();
    EXPECT_TRUE(where.captured(2).startsWith(QFileInfo(where.captured(1)).path())) << said.toStdString();
    QFile events(where.captured(1));
    ASSERT_TRUE(events.open(QFile::ReadOnly));
    EXPECT_TRUE(events.readAll().contains("\"event\":\"listen\""));
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("cwd"))).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
}

TEST(DevsimProgram, InterruptEndsCleanlyAndBadOptionsAreRefused)
{
    QTemporaryDir dir;
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        running d;
        ASSERT_TRUE(d.start({QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                             QStringLiteral("320x240")},
                            dir.path(), env));
        scripted_channel video;
        ASSERT_TRUE(video.connect(uint16_t(QRegularExpression(QStringLiteral("portV%3A(\\d+)"))
                                               .match(d.launch)
                                               .captured(1)
                                               .toUInt())));
        ::kill(pid_t(d.proc.processId()), SIGINT);
        ASSERT_TRUE(d.proc.waitForFinished(10000));
        EXPECT_EQ(d.proc.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(d.proc.exitCode(), 0);
    }
    for (const QStringList& bad : {QStringList{QStringLiteral("--size"), QStringLiteral("33x20")},
                                   QStringList{QStringLiteral("--des-encode"), QStringLiteral("12")},
                                   QStringList{QStringLiteral("--user-name"), QStringLiteral("a,b")},
                                   QStringList{QStringLiteral("--nonsense")}}) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(DEVSIM_PATH), bad);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << "no launch string for bad options";
    }
}
