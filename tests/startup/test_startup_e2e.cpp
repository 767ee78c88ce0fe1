// The viewer's start-up run as a real process from a copy of its executable:
// companion mode with a recording stand-in for comBySocket.exe, a missing
// companion, and the prepared state of a normal start.
//
// The "probe" executable is main.cpp built for tests: its logger echoes to
// the console, it reports the prepared state on standard error and closes the
// modal message box by a timer, so no run can hang.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <string>

namespace {

const int kBoundMs = 30000;

QCoreApplication* app()
{
    static int argc = 1;
    static char name[] = "test_startup_e2e";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* a = new QCoreApplication(argc, argv);
    return a;
}

class Startup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path();
    }

    // Copies the executable into the temporary directory, which becomes its application directory.
    QString install(const char* exe, const QString& as)
    {
        const QString target = dir + "/" + as;
        EXPECT_TRUE(QFile::copy(exe, target));
        QFile marker(dir + "/h264video-portable");
        EXPECT_TRUE(marker.open(QFile::WriteOnly));
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeUser);
        return target;
    }

    void write_script(const QString& path, const QByteArray& text)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QFile::WriteOnly));
        f.write(text);
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    std::unique_ptr<QProcess> launch(const QString& program, const QByteArray& launch_string)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(QDir::rootPath());
        p->start(program, QStringList{QString::fromLocal8Bit(launch_string)});
        EXPECT_TRUE(p->waitForStarted(kBoundMs));
        return p;
    }

    // Waits for the process to end; kills it after the bound.
    static bool finish(QProcess& p)
    {
        if (p.waitForFinished(kBoundMs))
            return true;
        p.kill();
        p.waitForFinished(kBoundMs);
        return false;
    }

    // Reads standard error until it holds text or the bound passes.
    static bool wait_for_stderr(QProcess& p, const QByteArray& text, QByteArray& seen)
    {
        QDeadlineTimer deadline(kBoundMs);
        while (!deadline.hasExpired()) {
            seen += p.readAllStandardError();
            if (seen.contains(text))
                return true;
            if (p.state() == QProcess::NotRunning) {
                seen += p.readAllStandardError();
                return seen.contains(text);
            }
            p.waitForReadyRead(100);
        }
        return false;
    }

    QTemporaryDir tmp;
    QString dir;
};

}  // namespace

TEST_F(Startup, CompanionModeStartsComBySocketWithTheDecodedString)
{
    const QString viewer = install(KVM_VIEWER_EXE, "H264Video");
    // The stand-in records its argument count and arguments, then renames the
    // record so the test never reads a half-written file.
    write_script(dir + "/comBySocket.exe",
                 "#!/bin/sh\n"
                 "d=$(dirname \"$0\")\n"
                 "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$d/args.tmp\"\n"
                 "mv \"$d/args.tmp\" \"$d/args.txt\"\n");

    auto p = launch(viewer, "xyz%20portCOM:3%2C%22quoted%22%7Bip%3A1.2.3.4%7D");
    ASSERT_TRUE(finish(*p));
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);

    QDeadlineTimer deadline(kBoundMs);
    while (!QFile::exists(dir + "/args.txt") && !deadline.hasExpired())
        QThread::msleep(20);
    QFile rec(dir + "/args.txt");
    ASSERT_TRUE(rec.open(QFile::ReadOnly));
    EXPECT_EQ(rec.readAll(), QByteArray("1\nxyz portCOM:3,quoted{ip:1.2.3.4}\n"));
    // Start-up stopped there: no session, so no log directory and no settings files.
    EXPECT_FALSE(QFileInfo::exists(dir + "/log"));

    // Bytes that are no UTF-8 reach the companion unchanged.
    rec.close();
    QFile::remove(dir + "/args.txt");
    auto q = launch(viewer, "portCOM:4%FF%FE%C3");
    ASSERT_TRUE(finish(*q));
    EXPECT_EQ(q->exitCode(), 0);
    deadline = QDeadlineTimer(kBoundMs);
    while (!QFile::exists(dir + "/args.txt") && !deadline.hasExpired())
        QThread::msleep(20);
    QFile rec2(dir + "/args.txt");
    ASSERT_TRUE(rec2.open(QFile::ReadOnly));
    EXPECT_EQ(rec2.readAll(), QByteArray("1\nportCOM:4\xff\xfe\xc3\n"));
}

TEST_F(Startup, MissingCompanionLogsShowsTheBoxAndStillExitsZero)
{
    const QString probe = install(KVM_PROBE_EXE, "H264Video");
    auto p = launch(probe, "xyz portCOM:3");
    ASSERT_TRUE(finish(*p));
    const QByteArray out = p->readAllStandardOutput();
    const QByteArray err = p->readAllStandardError();
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p->exitCode(), 0);
    const QByteArray line = "LOG_ERROR start comBySocket.exe failed." + (dir + "/comBySocket.exe").toLocal8Bit() +
                            " Param:xyz portCOM:3 ( src/main.cpp ) : ";
    EXPECT_TRUE(out.contains(line)) << out.constData();
    EXPECT_TRUE(err.contains("probe: message box title=[critical] text=[启动串口工具失败。] modal=1"))
        << err.constData();
    EXPECT_FALSE(out.contains("qt start")) << out.constData();
    EXPECT_FALSE(err.contains("probe: title=")) << err.constData();

    // A companion that exists but cannot be run counts as missing too.
    QFile blocked(dir + "/comBySocket.exe");
    ASSERT_TRUE(blocked.open(QFile::WriteOnly));
    blocked.write("not a program");
    blocked.close();
    ::chmod(QFile::encodeName(dir + "/comBySocket.exe").constData(), 0644);
    auto q = launch(probe, "%7BportCOM%3A1%7D");
    ASSERT_TRUE(finish(*q));
    EXPECT_EQ(q->exitCode(), 0);
    EXPECT_TRUE(q->readAllStandardOutput().contains("Param:{portCOM:1} ( src/main.cpp )"));
}

TEST_F(Startup, NormalStartPreparesTheApplication)
{
    const QString probe = install(KVM_PROBE_EXE, "H264Video");
    struct Case
    {
        QByteArray arg;
        QByteArray title;
        QByteArray user_id;
    };
    const Case cases[] = {
        {"%7B%22dogID%22%3A%222%22%2C%22userNM%22%3A%22admin%22%2Cip%3A127.0.0.1%2CuserID%3A42%7D",
         "Orvane V2.1 2018.12.10 - Login User: admin DongleID:3 IP: 127.0.0.1", "42"},
        // Bad input: a 100 KB string, and invalid UTF-8 with control bytes.
        {"{ip:127.0.0.1,userNM:" + QByteArray(100 * 1024, 'u') + "}",
         "Login User: " + QByteArray(1023 - 21, 'u') + " DongleID:1 IP: 127.0.0.1", "0"},
        {"{ip:127.0.0.1,userID:7,userNM:\x01\x1b\xff}%4g", "DongleID:1 IP: 127.0.0.1", "7"},
    };
    for (const Case& c : cases) {
        auto p = launch(probe, c.arg);
        QByteArray err;
        const bool reported = wait_for_stderr(*p, "probe: title=", err);
        // The window that follows belongs to the session; this test is done with it.
        p->kill();
        p->waitForFinished(kBoundMs);
        err += p->readAllStandardError();
        const QByteArray out = p->readAllStandardOutput();
        ASSERT_TRUE(reported) << err.constData();
        EXPECT_TRUE(err.contains(c.title)) << err.left(400).constData();
        EXPECT_TRUE(err.contains("cwd=[" + QDir(dir).canonicalPath().toLocal8Bit() + "]")) << err.constData();
        EXPECT_TRUE(err.contains("gbk=[GBK]")) << err.constData();
        EXPECT_FALSE(err.contains("stylesheet=0 ")) << err.constData();
        EXPECT_TRUE(out.contains("LOG_INFO  qt start,para.userID=" + c.user_id + " ( src/main.cpp ) : "))
            << out.left(2000).constData();
        EXPECT_TRUE(out.contains("LOG_INFO  system key info path:" + dir.toLocal8Bit() + "/key.xml ( src/main.cpp ) : "))
            << out.left(2000).constData();
    }
}

TEST_F(Startup, CompanionModeStartsNoLogger)
{
    // The logger belongs to a session: companion mode writes nothing to the console, no ./log.
    const QString viewer = install(KVM_VIEWER_EXE, "H264Video");
    write_script(dir + "/comBySocket.exe", "#!/bin/sh\nexit 0\n");
    auto p = launch(viewer, "{portCOM:1}");
    ASSERT_TRUE(finish(*p));
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_TRUE(p->readAllStandardOutput().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir + "/log"));
}
