// Benchmark 4: virtual media throughput. The in-process test device reads a
// 64 MiB disk image through a real main window's media channel (offscreen):
// one 512-byte sector per read-data message, each acknowledged before the
// next goes. Beside it, in the same round, the bound of such a stop-and-wait
// transfer on this machine: 512 bytes per round trip of one read-data sized
// frame and its 3-byte answer over loopback TCP between two threads (median
// of 2000 round trips). The read is checked against the image byte for byte.
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/bench_figures.h"
#include "common/devsim_session.h"
#include "socket/loopback_peer.h"

namespace {

const char* const k_name = "4 virtual media read 64 MiB";
const int k_frame = 11 + 520;  // a read-data message
const int k_answer = 11 + 3;   // the device's acknowledgement

bool full_send(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

bool full_recv(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// Pins the calling thread to one core; returns the old set in *old.
bool pin_to(int cpu, cpu_set_t* old)
{
    if (old && pthread_getaffinity_np(pthread_self(), sizeof *old, old) != 0)
        return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
}

// Median round trip of one read-data sized frame and its answer, ms. Both
// ends run on one core: a hand-over between two threads there costs a few
// microseconds, while waking a thread on an idle core of a virtual machine
// can cost tens, and the scheduler picks either from run to run. The bound
// is the lower, steady figure.
double loopback_round_trip_ms(int trips)
{
    const int cpu = std::max(0, sched_getcpu());
    cpu_set_t old;
    const bool pinned = pin_to(cpu, &old);
    LoopbackPeer peer;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(peer.port());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !peer.accept_client()) {
        ::close(fd);
        return 0;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::thread echo([&] {
        if (pinned)
            pin_to(cpu, nullptr);
        std::vector<uint8_t> in(k_frame), out(k_answer, 0x5A);
        for (int i = 0; i < trips; ++i) {
            const std::vector<uint8_t> got = peer.recv_bytes(size_t(k_frame), 5000);
            if (got.size() != size_t(k_frame) || !peer.send_bytes(out))
                return;
        }
    });
    std::vector<uint8_t> frame(k_frame, 0xA5), answer(k_answer);
    std::vector<double> ms;
    for (int i = 0; i < trips; ++i) {
        const auto t0 = bench::clock::now();
        if (!full_send(fd, frame.data(), frame.size()) || !full_recv(fd, answer.data(), answer.size()))
            break;
        ms.push_back(bench::ms_between(t0, bench::clock::now()));
    }
    echo.join();
    ::close(fd);
    if (pinned)
        pthread_setaffinity_np(pthread_self(), sizeof old, &old);
    return bench::median(ms);
}

}  // namespace

int main()
{
    const int rounds = bench::rounds(3);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("disk.img"));
    const QString out = dir.filePath(QStringLiteral("read.img"));
    const qint64 bytes = 64ll << 20;
    const uint64_t sectors = uint64_t(bytes / 512);
    if (!bench::make_image(image, bytes))
        return 1;

    devsim_window dw(1, [&](c_devsim_options& o) {
        o.mediaOut = out;
        o.fps = 1;  // the video channel stays nearly idle
        // A dedicated device answers at once; without this the test device
        // would add a sleeping thread's wake-up to every sector.
        o.busyWait = true;
    });
    if (!dw.started || !dw.window || !dw.wait_km_count(0, 0, 2, 10000)) {
        bench::note("[%s] the test device or the window did not start", k_name);
        return 1;
    }
    c_media_protocol* media = bench::media_protocol(*dw.window);
    if (!media)
        return 1;
    // The device's events are not needed here; recording them would cost the
    // device more per sector than the viewer spends.
    dw.dev->events().set_observer(nullptr);

    std::vector<double> mbps, bound, ratio;
    bool intact = true;
    for (int r = 0; r < rounds; ++r) {
        const double rtt = loopback_round_trip_ms(2000);
        if (!media->map(image.toStdString(), true)) {
            bench::note("[%s] the media dialog did not map the image", k_name);
            return 1;
        }
        const auto t0 = bench::clock::now();
        const bool done = pump_until(
            [&] {
                const auto s = dw.dev->media().status();
                return s.mapped && s.sectorsRead >= sectors && s.wholeDiskDone;
            },
            600000);
        const double secs = bench::seconds_between(t0, bench::clock::now());
        media->unmap();
        // The next round starts once the device has seen the unmap.
        pump_until([&] { return !dw.dev->media().status().mapped; }, 10000);
        if (!done) {
            bench::note("[%s] the read did not finish (%llu of %llu sectors)", k_name,
                        static_cast<unsigned long long>(dw.dev->media().status().sectorsRead),
                        static_cast<unsigned long long>(sectors));
            return 1;
        }
        QFile a(image), b(out);
        intact = intact && a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
        const double v = double(bytes) / secs / 1e6;
        const double limit = 512.0 / (rtt / 1000.0) / 1e6;
        bench::note("[%s] round %d: %.2f MB/s in %.1f s; round trip %.1f us, bound %.2f MB/s", k_name, r + 1, v, secs,
                    rtt * 1000.0, limit);
        mbps.push_back(v);
        bound.push_back(limit);
        ratio.push_back(v / limit);
    }
    const double q = bench::median(ratio);
    bench::row(k_name, "MB/s (median of " + std::to_string(rounds) + " rounds; reference: 512 B / loopback round trip)",
               bench::fmt(bench::median(mbps), 2), bench::fmt(bench::median(bound), 2), bench::fmt(q, 2),
               ">= 0.70 of bound", bench::yes_no(q >= 0.7 && intact));
    bench::row(k_name, "image read back byte for byte", intact ? "identical" : "DIFFERENT", "", "", "identical",
               bench::yes_no(intact));
    return 0;
}
