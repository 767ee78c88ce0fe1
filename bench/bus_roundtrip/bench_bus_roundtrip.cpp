// Benchmark: the session-bus interface of a real viewer (offscreen platform)
// showing devsim's 1920 x 1080 picture at 30 pictures/s, on a private
// dbus-daemon: the round trip of Status and of Screenshot (PNG of the whole
// picture), median of 20 each, and the viewer's CPU while a script polls
// Status every 100 ms against the same time left alone. Loopback only.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "common/bench_figures.h"
#include "common/thread_cpu.h"
#include "common/devsim_process.h"
#include "common/session_bus.h"

namespace {

const char* const k_name = "session bus round trips (1080p)";
const int k_rounds = 20;
const int k_cpu_seconds = 10;


void row(const char* figure, double value, const char* unit)
{
    std::printf("BENCH|%s|%s|%.2f %s|||||\n", k_name, figure, value, unit);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    session_bus_process bus;
    if (!dir.isValid() || !bus.start()) {
        std::fprintf(stderr, "no dbus-daemon\n");
        return 1;
    }
    devsim_process dev;
    if (!dev.start(QStringLiteral(DEVSIM_PATH),
                   {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--size"), QStringLiteral("1920x1080"),
                    QStringLiteral("--fps"), QStringLiteral("30"), QStringLiteral("--events"), QString()},
                   dir.path())) {
        std::fprintf(stderr, "devsim did not start\n");
        return 1;
    }
    QString exe;
    if (!viewer_process::install(QStringLiteral(VIEWER_PATH), dir.path(), &exe))
        return 1;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET"})
        env.remove(QString::fromLatin1(v));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
    env.insert(QStringLiteral("HOME"), dir.path());
    QProcess viewer;
    viewer.setProcessEnvironment(env);
    end_with_the_test(viewer);
    viewer.start(exe, {dev.launch});
    if (!viewer.waitForStarted(10000))
        return 1;
    const qint64 pid = viewer.processId();

    QDBusConnection conn = QDBusConnection::connectToBus(bus.address, QStringLiteral("bench"));
    const QString service = QStringLiteral("io.github.h264video.Viewer-%1").arg(pid);
    auto call = [&](const char* method) {
        const QDBusMessage m = QDBusMessage::createMethodCall(service, QStringLiteral("/io/github/h264video/Session"),
                                                              QStringLiteral("io.github.h264video.Session1"),
                                                              QString::fromLatin1(method));
        return conn.call(m, QDBus::Block, 30000);
    };
    // Ready once a screenshot comes back (the picture has arrived).
    QElapsedTimer ready;
    ready.start();
    while (call("Screenshot").type() != QDBusMessage::ReplyMessage) {
        if (ready.elapsed() > 60000) {
            std::fprintf(stderr, "the viewer never offered a picture\n");
            return 1;
        }
        QThread::msleep(100);
    }

    for (const char* method : {"Status", "Screenshot"}) {
        std::vector<double> ms;
        qint64 bytes = 0;
        for (int i = 0; i < k_rounds; ++i) {
            const auto t0 = bench::clock::now();
            const QDBusMessage r = call(method);
            ms.push_back(bench::ms_between(t0, bench::clock::now()));
            if (r.type() != QDBusMessage::ReplyMessage) {
                std::fprintf(stderr, "%s failed: %s\n", method, qPrintable(r.errorMessage()));
                return 1;
            }
            if (!r.arguments().isEmpty())
                bytes = r.arguments().first().toByteArray().size();
        }
        const std::string figure = std::string(method) + " round trip, median of 20";
        row(figure.c_str(), bench::percentile(ms, 50), "ms");
        std::fprintf(stderr, "%s: median %.2f ms, max %.2f ms%s\n", method, bench::percentile(ms, 50),
                     bench::percentile(ms, 100),
                     bytes ? qPrintable(QStringLiteral(", PNG %1 bytes").arg(bytes)) : "");
    }

    // Idle, then polled every 100 ms, for the same time each.
    double c0 = bench::process_cpu(pid);
    QThread::sleep(k_cpu_seconds);
    const double idle = (bench::process_cpu(pid) - c0) / k_cpu_seconds * 100.0;
    c0 = bench::process_cpu(pid);
    const auto end = bench::clock::now() + std::chrono::seconds(k_cpu_seconds);
    auto next = bench::clock::now();
    while (bench::clock::now() < end) {
        call("Status");
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    const double polled = (bench::process_cpu(pid) - c0) / k_cpu_seconds * 100.0;
    row("viewer CPU, left alone (1080p at 30/s)", idle, "%");
    row("viewer CPU, Status polled every 100 ms", polled, "%");

    viewer.kill();
    viewer.waitForFinished(5000);
    dev.stop();
    bus.stop();
    return 0;
}
