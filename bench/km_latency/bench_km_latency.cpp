// Benchmark 3: keyboard and mouse latency. A real main window (offscreen)
// against the in-process test device, which answers every KM message at once.
// One message at a time, 0.5 to 1.5 ms after the previous one arrived (as
// mouse samples or key strokes come), sendKmMessage is called on the GUI
// thread (a relative mouse report without movement) and timed until the
// device has deciphered it: 10,000 messages with the channels idle, 10,000 while the
// device reads a 64 MiB disk image through the viewer's media channel, and
// 10,000 while the device has stopped reading the media channel altogether
// (its send thread then waits for acknowledgements that never come). The KM
// channel has a send thread of its own, so none of this should show.
#include <QTemporaryDir>

#include "common/bench_figures.h"
#include "common/devsim_session.h"
#include "socket/loopback_peer.h"
#include "tools/key_mouse/km_messages.h"

#include <random>

namespace {

const char* const k_name = "3 keyboard/mouse latency";

struct km_run
{
    std::vector<double> ms;
    int lost = 0;
    int during_read = 0;  // messages sent while the media read ran
};

// The media read that runs beside the messages; started again whenever it
// has finished, so that every message meets a running read.
struct media_read
{
    c_media_protocol* proto = nullptr;
    c_devsim_media* device = nullptr;
    std::string image;
    uint64_t sectors = 0;
    int reads = 0;

    bool running() const
    {
        const auto s = device->status();
        return s.mapped && s.sectorsRead > 0 && !(s.sectorsRead >= sectors && s.wholeDiskDone);
    }

    // Worker thread: maps the image again once the device has read all of it.
    void keep_running(QObject* gui)
    {
        if (running())
            return;
        bench::on_gui(gui, [&] { proto->unmap(); });
        wait_until([&] { return !device->status().mapped; }, 10000);
        bench::on_gui(gui, [&] { proto->map(image, true); });
        wait_until([&] { return running(); }, 10000);
        ++reads;
    }
};

// Sends n messages one after another, each once the previous one arrived.
km_run send_messages(devsim_window& dw, bench::km_arrivals& arrivals, int n, media_read* read)
{
    km_run r;
    H264Video* w = dw.window.get();
    bench::run_with_gui([&] {
        std::atomic<int64_t> sent_ns{0};
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> gap(0, 1000);
        const unsigned char report[KM_MOUSE_REL_LEN] = {0, 0, 0, 0};
        for (int i = 0; i < n; ++i) {
            if (read) {
                read->keep_running(w);
                r.during_read += read->running() ? 1 : 0;
            }
            const size_t before = arrivals.count();
            QMetaObject::invokeMethod(
                w,
                [&] {
                    sent_ns.store(bench::clock::now().time_since_epoch().count());
                    w->sendKmMessage(CMD_KM_MOUSE_REL, KM_MOUSE_REL_LEN, report);
                },
                Qt::QueuedConnection);
            bench::clock::time_point at;
            if (!arrivals.wait_beyond(before, 2000, &at)) {
                ++r.lost;
                continue;
            }
            const bench::clock::time_point sent{bench::clock::duration(sent_ns.load())};
            r.ms.push_back(bench::ms_between(sent, at));
            // A pause as between two mouse samples or key strokes, so each
            // message finds the channel idle (its answer back, the send
            // thread waiting for work), not still busy with the previous one.
            std::this_thread::sleep_for(std::chrono::microseconds(500 + gap(rng)));
        }
    });
    return r;
}

void report(const std::string& what, const km_run& r, int n)
{
    const double p50 = bench::percentile(r.ms, 50), p99 = bench::percentile(r.ms, 99);
    const bool complete = r.lost == 0 && int(r.ms.size()) == n;
    bench::row(k_name, what + ", median ms", bench::fmt(p50, 3), "", "", "< 1 ms", bench::yes_no(p50 < 1.0 && complete));
    bench::row(k_name, what + ", 99th percentile ms", bench::fmt(p99, 3), "", "", "< 5 ms",
               bench::yes_no(p99 < 5.0 && complete));
    bench::row(k_name, what + ", messages lost", std::to_string(r.lost) + " of " + std::to_string(n), "", "", "0",
               bench::yes_no(r.lost == 0));
}

}  // namespace

int main()
{
    const char* env = std::getenv("BENCH_KM_MESSAGES");
    const int n = env && std::atoi(env) > 0 ? std::atoi(env) : 10000;
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("disk.img"));
    const qint64 image_bytes = 64ll << 20;

    devsim_window dw(1, [&](c_devsim_options& o) { o.mediaOut = dir.filePath(QStringLiteral("read.img")); });
    if (!dw.started || !dw.window) {
        bench::note("[%s] the test device or the window did not start", k_name);
        return 1;
    }
    // The user identification and the privilege request leave first.
    if (!dw.wait_km_count(0, 0, 2, 10000)) {
        bench::note("[%s] the window's first KM messages did not arrive", k_name);
        return 1;
    }
    pump_for(200);
    bench::km_arrivals arrivals(*dw.dev);

    const km_run idle = send_messages(dw, arrivals, n, nullptr);
    report("idle", idle, n);

    if (!bench::make_image(image, image_bytes)) {
        bench::note("[%s] cannot write %s", k_name, qPrintable(image));
        return 1;
    }
    media_read read;
    read.proto = bench::media_protocol(*dw.window);
    read.device = &dw.dev->media();
    read.image = image.toStdString();
    read.sectors = uint64_t(image_bytes / 512);
    if (!read.proto || !read.proto->map(read.image, true)) {
        bench::note("[%s] the media dialog did not map the image", k_name);
        return 1;
    }
    read.reads = 1;
    // Messages start once the device is reading.
    pump_until([&] { return read.running(); }, 10000);
    const km_run busy = send_messages(dw, arrivals, n, &read);
    report("during a 64 MiB media read", busy, n);
    bench::note("[%s] %d of %d messages found the read running; the image was read %d times", k_name,
                busy.during_read, n, read.reads);
    bench::row(k_name, "during the read: messages that found the read running (image read " +
                           std::to_string(read.reads) + " times)",
               std::to_string(busy.during_read) + " of " + std::to_string(n));

    // The device stops reading the media channel: the viewer's next media
    // message stays unacknowledged and its send thread waits and resends.
    dw.dev->media().set_read_stalled(true);
    const int64_t stall_from = dw.dev->media().status().sectorsRead;
    pump_for(2500);
    const km_run stalled = send_messages(dw, arrivals, n, nullptr);
    report("while the media channel is stalled", stalled, n);
    bench::note("[%s] the device read %lld sectors during the stall (0: it really read nothing)", k_name,
                (long long)(dw.dev->media().status().sectorsRead - stall_from));
    dw.dev->media().set_read_stalled(false);
    read.proto->unmap();
    return 0;
}
