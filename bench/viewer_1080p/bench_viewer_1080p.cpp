// Benchmarks 5, 6 and 7. 5: the viewer's frame rate: the devsim program streams its
// desktop at 1920 x 1080, 60 pictures/s (it encodes live, as a device
// would), and a real main window in this process (offscreen, display area
// 1920 x 1080) shows it. Ten seconds are counted once the stream runs: the
// pictures the window set on its label beside the pictures devsim sent, and
// this process's CPU time (the viewer's: devsim is another process). Then
// devsim reads a 64 MiB disk image through the viewer while the stream goes
// on, and the same is counted again. The peak resident memory of this
// process covers both. 6: the same with pictures of DCI 4K (4096 x 2304)
// at 30/s and UHD (3840 x 2160) at 60/s into the same area, with the CPU
// by thread. 7: idle, devsim having sent 30 pictures and then nothing, as a
// screen standing still: the viewer's CPU and its threads' wake-ups.
#include <QDir>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstring>
#include <fstream>

#include "common/bench_figures.h"
#include "common/devsim_process.h"
#include "common/devsim_session.h"
#include "common/label_probe.h"
#include "common/thread_cpu.h"
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

// The viewer in a window of area 1920 x 1080 against a devsim of its own
// streaming size at fps; extra devsim options in extra. Null when the stream
// did not reach the window.
struct viewer_run
{
    QTemporaryDir dir;
    devsim_process dev;
    std::unique_ptr<H264Video> window;
    std::unique_ptr<bench::label_probe> probe;

    bool start(const QString& size, int fps, const QStringList& extra, int first_pictures)
    {
        QStringList args = {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--no-control-port"),
                            QStringLiteral("--size"), size, QStringLiteral("--fps"), QString::number(fps),
                            QStringLiteral("--events"), QString(), QStringLiteral("--media-out"),
                            dir.filePath(QStringLiteral("read.img"))};
        args += extra;
        if (!dev.start(QStringLiteral(DEVSIM_PATH), args, dir.path()))
            return false;
        static char buf[1024];
        const QByteArray launch = dev.launch.toLatin1();
        launch_prepare(launch.constData(), buf);
        std::memset(&g_para, 0, sizeof g_para);
        launch_parse(buf, g_para);
        window = std::make_unique<H264Video>();
        window->resize(window->ui.toolBar->width() + 1920, 1080);
        window->show();
        probe = std::make_unique<bench::label_probe>(*window);
        return pump_until([&] { return probe->count() >= first_pictures; }, 30000);
    }

    ~viewer_run()
    {
        probe.reset();
        window.reset();
        dev.stop();
    }
};

// Pictures shown / sent and CPU of a devsim stream of size at fps.
bool large_stream_rows(const char* name, const QString& size, int fps, const QStringList& extra)
{
    viewer_run run;
    if (!run.start(size, fps, extra, 10)) {
        bench::note("[%s] no stream reached the window", name);
        bench::row(name, "pictures/s shown (reference: pictures/s devsim sent)", "0", "", "", ">= 0.95 of sent",
                   "no");
        return false;
    }
    pump_for(2000);
    const auto threads0 = bench::thread_cpu();
    const window_counts c = count_for(run.dev, *run.probe, k_seconds);
    const auto threads = bench::cpu_spent(threads0, bench::thread_cpu());
    std::string split;
    for (const auto& t : threads)
        if (t.second / k_seconds >= 0.005)
            split += " " + t.first + " " + bench::fmt(100.0 * t.second / k_seconds, 0) + " %;";
    bench::note("[%s] CPU by thread, %% of one core:%s", name, split.c_str());
    bench::row(name, "pictures/s shown (reference: pictures/s devsim sent)", bench::fmt(c.shown_fps),
               bench::fmt(c.sent_fps), bench::fmt(c.sent_fps > 0 ? c.shown_fps / c.sent_fps : 0, 2),
               ">= 0.95 of sent", bench::yes_no(c.sent_fps > 0 && c.shown_fps / c.sent_fps >= 0.95));
    bench::row(name, "viewer CPU, % of one core (by thread:" + split + ")", bench::fmt(c.cpu_percent, 0));
    return true;
}

int run_1080p()
{
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

    // The statistics overlay, off and on in turn, in the same run.
    std::vector<double> off_cpu, on_cpu;
    for (int round = 0; round < 3; ++round) {
        w.ui.actionStats->setChecked(false);
        off_cpu.push_back(count_for(dev, probe, 5).cpu_percent);
        w.ui.actionStats->setChecked(true);
        on_cpu.push_back(count_for(dev, probe, 5).cpu_percent);
    }
    w.ui.actionStats->setChecked(false);
    const double overlay_cost = bench::median(on_cpu) - bench::median(off_cpu);

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
    bench::row(k_name, "viewer CPU with the statistics overlay shown (reference: hidden), % of one core, medians of 3",
               bench::fmt(bench::median(on_cpu), 1), bench::fmt(bench::median(off_cpu), 1),
               bench::fmt(overlay_cost, 1) + " points", "< 2 points", bench::yes_no(overlay_cost < 2.0));
    bench::row(k_name, "pictures/s shown during a 64 MiB media read (reference: sent)",
               bench::fmt(reading.shown_fps), bench::fmt(reading.sent_fps),
               bench::fmt(reading.shown_fps / reading.sent_fps, 2));
    bench::row(k_name, "viewer CPU during the read, % of one core", bench::fmt(reading.cpu_percent, 0));
    bench::row(k_name, "peak resident memory of the viewer, MiB", bench::fmt(peak, 0), "", "", "< 150 MB",
               bench::yes_no(peak * 1.048576 < 150.0));
    return 0;
}

}  // namespace

int main()
{
    test_application();
    if (run_1080p() != 0)
        return 1;

    // Pictures of DCI 4K at 30/s, and UHD at 60/s, into the same area.
    large_stream_rows("6 viewer with devsim 4096x2304 at 30/s", QStringLiteral("4096x2304"), 30, {});
    large_stream_rows("6 viewer with devsim 3840x2160 at 60/s", QStringLiteral("3840x2160"), 60, {});

    // Idle: devsim sends 30 pictures, then nothing, as a screen standing still.
    {
        const char* name = "7 viewer idle";
        viewer_run run;
        if (!run.start(QStringLiteral("1920x1080"), 30, {QStringLiteral("--pictures"), QStringLiteral("30")}, 30)) {
            bench::note("[%s] the pictures did not reach the window", name);
            return 1;
        }
        pump_for(3000);
        const double cpu0 = cpu_seconds();
        const unsigned long long switches0 = bench::context_switches();
        const auto t0 = bench::clock::now();
        // The event loop sleeps until something is due, as a real one does.
        QEventLoop loop;
        QTimer::singleShot(k_seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        const double secs = bench::seconds_between(t0, bench::clock::now());
        const double cpu = 100.0 * (cpu_seconds() - cpu0) / secs;
        const double wakeups = double(bench::context_switches() - switches0) / secs;
        bench::row(name, "viewer CPU with the window shown and nothing new sent, % of one core", bench::fmt(cpu, 2),
                   "", "", "< 0.5 %", bench::yes_no(cpu < 0.5));
        bench::row(name, "wake-ups per second (voluntary + involuntary context switches of all threads)",
                   bench::fmt(wakeups, 0), "", "", "< 50", bench::yes_no(wakeups < 50));
    }
    return 0;
}
