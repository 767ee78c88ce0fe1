// Frames per second the main window shows for devsim's stream, and the CPU
// the viewer uses. The viewer runs in this process (offscreen unless
// QT_QPA_PLATFORM or DISPLAY says otherwise); devsim runs as its own program,
// so its encoder's CPU is not counted.
//
//   bench_viewer_fps [WIDTHxHEIGHT] [FPS] [SECONDS]     default 1920x1080 60 10
#include <sys/resource.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "h264video.h"
#include "session_params.h"

namespace {

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void pump(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

long long devsim_pictures(QProcess& dev)
{
    dev.readAllStandardOutput();
    dev.write("status\n");
    QByteArray out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!out.contains('\n') && std::chrono::steady_clock::now() < end)
        if (dev.waitForReadyRead(100))
            out += dev.readAllStandardOutput();
    const auto m = QRegularExpression(QStringLiteral("\"pictures\":(\\d+)")).match(QString::fromUtf8(out));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    const char* size = argc > 1 ? argv[1] : "1920x1080";
    const char* fps = argc > 2 ? argv[2] : "60";
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QProcess dev;
    dev.setProgram(QStringLiteral(DEVSIM_PATH));
    dev.setArguments({QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"),
                      QString::fromLatin1(size), QStringLiteral("--fps"), QString::fromLatin1(fps),
                      QStringLiteral("--events"), QString()});
    dev.start();
    if (!dev.waitForStarted(10000) || !dev.waitForReadyRead(20000)) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }
    QByteArray first;
    while (!first.contains('\n') && dev.waitForReadyRead(5000))
        first += dev.readAllStandardOutput();
    first += dev.readAllStandardOutput();
    const QByteArray launch = first.left(first.indexOf('\n')).trimmed();

    char buf[LAUNCH_BUFFER_SIZE];
    launch_prepare(launch.constData(), buf);
    launch_parse(buf, g_para);

    auto* window = new H264Video();
    window->show();
    long long shown = 0;
    QObject::connect(window, &H264Video::signal_decode_one_frame, window, [&shown] { ++shown; },
                     Qt::QueuedConnection);

    pump(3000);  // warm-up: first key frame, caches
    const long long shown0 = shown;
    const long long sent0 = devsim_pictures(dev);
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    pump(seconds * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds() - cpu0;
    const long long sent = devsim_pictures(dev) - sent0;
    const long long frames = shown - shown0;

    std::printf("stream %s at %s frames/s, %s platform, %.1f s\n", size, fps,
                qPrintable(QGuiApplication::platformName()), wall);
    std::printf("devsim sent   %8.1f pictures/s\n", double(sent) / wall);
    std::printf("viewer showed %8.1f pictures/s\n", double(frames) / wall);
    std::printf("viewer CPU    %8.1f %% of one core\n", 100.0 * cpu / wall);

    delete window;
    dev.write("quit\n");
    if (!dev.waitForFinished(5000))
        dev.kill();
    return 0;
}
