// Benchmark 5 and the viewer's frame rate: the devsim program streams its
// desktop at 1920 x 1080, 60 pictures/s (it encodes live, as a device
// would), and a real main window in this process (offscreen, display area
// 1920 x 1080) shows it. Ten seconds are counted once the stream runs: the
// pictures the window set on its label beside the pictures devsim sent, and
// this process's CPU time (the viewer's: devsim is another process). Then
// devsim reads a 64 MiB disk image through the viewer while the stream goes
// on, and the same is counted again. The peak resident memory of this
// process covers both.
#include <QDir>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstring>
#include <fstream>

#include "common/bench_figures.h"
#include "common/devsim_process.h"
#include "common/devsim_session.h"
#include "common/label_probe.h"
#include "session_params.h"

namespace {

const char* const k_name = "5 viewer with devsim 1080p60";
const int k_seconds = 10;

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident set of this process in MiB (VmHWM).
double peak_rss_mib()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

uint64_t devsim_pictures(devsim_process& dev)
{
    const QString reply = dev.command(QStringLiteral("status"));
    const QRegularExpression re(QStringLiteral("\"pictures\":(\\d+)"));
    const auto m = re.match(reply);
    return m.hasMatch() ? m.captured(1).toULongLong() : 0;
}

struct window_counts
{
    double shown_fps = 0;
    double sent_fps = 0;
    double cpu_percent = 0;
};

window_counts count_for(devsim_process& dev, bench::label_probe& probe, int seconds)
{
    window_counts c;
    const uint64_t sent0 = devsim_pictures(dev);
    const int shown0 = probe.count();
    const double cpu0 = cpu_seconds();
    const auto t0 = bench::clock::now();
    pump_for(seconds * 1000);
    const double secs = bench::seconds_between(t0, bench::clock::now());
    c.cpu_percent = 100.0 * (cpu_seconds() - cpu0) / secs;
    c.shown_fps = (probe.count() - shown0) / secs;
    c.sent_fps = double(devsim_pictures(dev) - sent0) / secs;
    return c;
}

}  // namespace

int main()
{
    test_application();
    QTemporaryDir dir;
    devsim_process dev;
    if (!dev.start(QStringLiteral(DEVSIM_PATH),
                   {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--no-control-port"),
                    QStringLiteral("--size"), QStringLiteral("1920x1080"), QStringLiteral("--fps"),
                    QStringLiteral("60"), QStringLiteral("--events"), QString(), QStringLiteral("--media-out"),
                    dir.filePath(QStringLiteral("read.img"))},
                   dir.path())) {
        bench::note("[%s] devsim did not start", k_name);
        return 1;
    }

    // The viewer's own start-up path for the launch string.
    static char buf[1024];
    const QByteArray launch = dev.launch.toLatin1();
    launch_prepare(launch.constData(), buf);
    std::memset(&g_para, 0, sizeof g_para);
    launch_parse(buf, g_para);

    H264Video w;
    w.resize(w.ui.toolBar->width() + 1920, 1080);
    w.show();
    bench::label_probe probe(w);
    if (!pump_until([&] { return probe.count() > 30; }, 20000)) {
        bench::note("[%s] no stream reached the window", k_name);
        return 1;
    }
    pump_for(2000);

    const window_counts plain = count_for(dev, probe, k_seconds);

    const QString image = dir.filePath(QStringLiteral("disk.img"));
    c_media_protocol* media = bench::media_protocol(w);
    if (!bench::make_image(image, 64ll << 20) || !media || !media->map(image.toStdString(), true)) {
        bench::note("[%s] the media dialog did not map the image", k_name);
        return 1;
    }
    const window_counts reading = count_for(dev, probe, k_seconds);
    media->unmap();
    const double peak = peak_rss_mib();

    bench::row(k_name, "pictures/s shown (reference: pictures/s devsim sent)", bench::fmt(plain.shown_fps),
               bench::fmt(plain.sent_fps), bench::fmt(plain.shown_fps / plain.sent_fps, 2));
    bench::row(k_name, "viewer CPU, % of one core", bench::fmt(plain.cpu_percent, 0));
    bench::row(k_name, "pictures/s shown during a 64 MiB media read (reference: sent)",
               bench::fmt(reading.shown_fps), bench::fmt(reading.sent_fps),
               bench::fmt(reading.shown_fps / reading.sent_fps, 2));
    bench::row(k_name, "viewer CPU during the read, % of one core", bench::fmt(reading.cpu_percent, 0));
    bench::row(k_name, "peak resident memory of the viewer, MiB", bench::fmt(peak, 0), "", "", "< 150 MB",
               bench::yes_no(peak * 1.048576 < 150.0));
    dev.stop();
    return 0;
}
