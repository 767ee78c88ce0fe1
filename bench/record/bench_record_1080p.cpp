// What recording costs. First the recorder alone: ten seconds of a
// demanding 1920 x 1080 60/s stream (the benchmarks' scrolling desktop with a
// film region), encoded beforehand, go through it as fast as it takes them;
// its CPU time over the stream's ten seconds is its share of one core. Then
// the whole viewer: the devsim program streams 1920 x 1080 at 60/s to a real
// main window in this process (offscreen), and this process's CPU time is
// counted in rounds with the tool bar's Record toggle off and on, interleaved
// (the machine is shared and its speed drifts). Recordings go into a
// temporary HOME.
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstring>

#include "common/bench_figures.h"
#include "common/bench_stream.h"
#include "common/devsim_process.h"
#include "common/devsim_session.h"
#include "common/label_probe.h"
#include "session_params.h"
#include "tools/record/c_stream_recorder.h"

namespace {

const char* const k_name = "5 viewer with devsim 1080p60, recording";
const int k_rounds = 3;
const int k_round_seconds = 6;

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU of this process in % of one core over one round, and pictures shown per second.
std::pair<double, double> round(bench::label_probe& probe)
{
    const int shown0 = probe.count();
    const double cpu0 = cpu_seconds();
    const auto t0 = bench::clock::now();
    pump_for(k_round_seconds * 1000);
    const double secs = bench::seconds_between(t0, bench::clock::now());
    return {100.0 * (cpu_seconds() - cpu0) / secs, (probe.count() - shown0) / secs};
}

qint64 recorded_bytes(const QString& dir)
{
    qint64 n = 0;
    QDirIterator it(dir, {QStringLiteral("*.mkv")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        n += QFileInfo(it.next()).size();
    return n;
}

}  // namespace

int main()
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
    test_application();

    {
        const uint8_t key8[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        const bench::test_stream stream = bench::make_stream(1920, 1080, 600, 60, key8);
        if (stream.units.size() < 600) {
            bench::note("[%s] the test stream was not encoded", k_name);
            return 1;
        }
        double bytes = 0;
        for (const auto& u : stream.units)
            bytes += double(u.size());
        c_stream_recorder rec;
        std::string error;
        const double cpu0 = cpu_seconds();
        if (!rec.start(home.filePath(QStringLiteral("alone")).toStdString(), &error)) {
            bench::note("[%s] %s", k_name, error.c_str());
            return 1;
        }
        auto t = c_stream_recorder::clock::now();
        for (const auto& u : stream.units)
            rec.push(u.data(), int(u.size()), t += std::chrono::microseconds(16667));
        rec.stop();
        const double cpu = cpu_seconds() - cpu0;
        const double stream_secs = double(stream.units.size()) / 60.0;
        bench::row(k_name, "recorder alone, % of one core (stream Mbit/s)", bench::fmt(100.0 * cpu / stream_secs, 2),
                   bench::fmt(bytes * 8 / 1e6 / stream_secs, 1));
    }

    devsim_process dev;
    if (!dev.start(QStringLiteral(DEVSIM_PATH),
                   {QStringLiteral("--ports"), QStringLiteral("0"), QStringLiteral("--no-control-port"),
                    QStringLiteral("--size"), QStringLiteral("1920x1080"), QStringLiteral("--fps"),
                    QStringLiteral("60"), QStringLiteral("--events"), QString()},
                   home.path())) {
        bench::note("[%s] devsim did not start", k_name);
        return 1;
    }

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

    double off_cpu = 0, on_cpu = 0, off_fps = 0, on_fps = 0, on_secs = 0;
    for (int i = 0; i < k_rounds; ++i) {
        const auto off = round(probe);
        w.ui.actionRecord->setChecked(true);
        const auto on = round(probe);
        w.ui.actionRecord->setChecked(false);
        if (w.ui.actionRecord->isChecked() || recorded_bytes(home.path()) == 0) {
            bench::note("[%s] nothing was recorded", k_name);
            return 1;
        }
        off_cpu += off.first / k_rounds;
        off_fps += off.second / k_rounds;
        on_cpu += on.first / k_rounds;
        on_fps += on.second / k_rounds;
        on_secs += k_round_seconds;
    }
    const double mbit = recorded_bytes(home.path()) * 8.0 / 1e6 / on_secs;

    bench::row(k_name, "viewer CPU, % of one core, recording (reference: not recording)", bench::fmt(on_cpu, 1),
               bench::fmt(off_cpu, 1), bench::fmt(on_cpu - off_cpu, 1));
    bench::row(k_name, "pictures/s shown, recording (reference: not recording)", bench::fmt(on_fps),
               bench::fmt(off_fps), bench::fmt(on_fps / off_fps, 2));
    bench::row(k_name, "viewer CPU ms per picture shown, recording (reference: not recording)",
               bench::fmt(on_cpu * 10.0 / on_fps, 2), bench::fmt(off_cpu * 10.0 / off_fps, 2),
               bench::fmt(on_cpu * off_fps / (off_cpu * on_fps), 2));
    bench::row(k_name, "recorded Mbit/s", bench::fmt(mbit, 1));
    dev.stop();
    return 0;
}
