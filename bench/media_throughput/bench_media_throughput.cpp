// Benchmark 4: virtual media throughput. The in-process test device reads a
// 64 MiB disk image through a real main window's media channel (offscreen):
// one 512-byte sector per read-data message, each acknowledged before the
// next goes. Beside it, in the same round, the bound of such a stop-and-wait
// transfer on this machine: 512 bytes per round trip of one read-data sized
// frame and its 3-byte answer over loopback TCP between two threads (median
// of 2000 round trips), measured twice: both threads on one core, and each
// free to run on either core while looking for its frame without sleeping,
// as the device and the viewer run in the transfer. Two more references run
// the test device against bare clients: one thread doing everything, and the
// viewer's layout of one thread sending and one receiving. The read is
// checked against the image byte for byte. Each round reads the image twice,
// with the viewer logging at its default level and with warnings only.
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include <arpa/inet.h>
#include <pthread.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/bench_figures.h"
#include "common/devsim_session.h"
#include "log/CLogerManager.h"
#include "log/log.h"
#include "socket/loopback_peer.h"
#include "thread/c_media_protocol.h"
#include "tools/socket/c_frame.h"
#include "tools/socket/c_msg_builder.h"

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

// looking: waits for each piece with poll(0) in a loop instead of sleeping.
bool full_recv(int fd, uint8_t* p, size_t n, bool looking = false)
{
    while (n > 0) {
        pollfd q{fd, POLLIN, 0};
        while (looking && ::poll(&q, 1, 0) == 0) {
        }
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

// Median round trip of one read-data sized frame and its answer, ms.
// one_core: both ends on one core, each sleeping in its receive. A hand-over
// between two threads there costs a few microseconds, while waking a thread
// on an idle core of a virtual machine can cost tens, and the scheduler
// picks either from run to run: this is the lower, steady figure.
// Otherwise both ends are left to the scheduler and look for their frame
// without sleeping, so each keeps a core, as in the transfer.
double loopback_round_trip_ms(int trips, bool one_core)
{
    const int cpu = std::max(0, sched_getcpu());
    cpu_set_t old;
    const bool pinned = one_core && pin_to(cpu, &old);
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
    const bool looking = !one_core;
    std::thread echo([&] {
        if (pinned)
            pin_to(cpu, nullptr);
        std::vector<uint8_t> in(k_frame), out(k_answer, 0x5A);
        for (int i = 0; i < trips; ++i) {
            if (!full_recv(peer.client_fd(), in.data(), in.size(), looking) || !peer.send_bytes(out))
                return;
        }
    });
    std::vector<uint8_t> frame(k_frame, 0xA5), answer(k_answer);
    std::vector<double> ms;
    for (int i = 0; i < trips; ++i) {
        const auto t0 = bench::clock::now();
        if (!full_send(fd, frame.data(), frame.size()) || !full_recv(fd, answer.data(), answer.size(), looking))
            break;
        ms.push_back(bench::ms_between(t0, bench::clock::now()));
    }
    if (int(ms.size()) < trips)
        ::shutdown(fd, SHUT_RDWR);  // the echo thread is not left waiting
    echo.join();
    ::close(fd);
    if (pinned)
        pthread_setaffinity_np(pthread_self(), sizeof old, &old);
    return bench::median(ms);
}

// Sends one message and returns once its answer is in *body (false when the
// connection failed).
using ask_fn = std::function<bool(CQUEUE_MESSAGE, std::vector<uint8_t>* body)>;

// Reads the whole disk from the in-process test device through a bare client:
// connect(fd) sets the client up on the connected socket and returns its way
// of asking; the client identifies, maps the disk and answers every read wish
// sector by sector. MB/s, 0 when the read did not finish.
double bare_client_mbps(const QString& out, const QByteArray& disk, const std::function<ask_fn(int fd)>& connect,
                        const std::function<void()>& disconnect = {})
{
    c_devsim_options o;
    o.portVideo = o.portKM = o.portMedia = o.portControl = 0;
    o.controlPort = false;
    o.readStdin = false;
    o.eventsFile.clear();
    o.userID = 7;
    o.mediaOut = out;
    o.busyWait = true;
    c_devsim dev(o);
    QString error;
    if (!dev.start(&error))
        return 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(dev.port_media());
    int on = 1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        ::close(fd);
        return 0;
    }
    const ask_fn ask = connect(fd);
    std::vector<uint8_t> body;
    const uint32_t sectors = uint32_t(disk.size() / 512);
    const auto* data = reinterpret_cast<const uint8_t*>(disk.constData());
    double secs = 0;
    uint64_t done = 0;
    if (ask(build_msg_50(o.userID), &body) &&
        ask(build_msg_7(1, c_media_protocol::MAP_FLAG_MAPPED, sectors), &body)) {
        const auto t0 = bench::clock::now();
        while (done < sectors && ask(build_msg_8(1, 0), &body) && body.size() >= 8 && body[1] == 1) {
            const uint32_t start = read_be32(body.data() + 2);
            const uint16_t count = read_be16(body.data() + 6);
            if (uint64_t(start) + count > sectors)
                break;
            for (uint16_t i = 0; i < count; ++i)
                if (!ask(build_msg_9(1, start, i, data + (uint64_t(start) + i) * 512, 512, i + 1 == count ? 1 : 0),
                         &body))
                    break;
            done += count;
            // A client that never sleeps crawls when other work holds the cores.
            if (bench::seconds_between(t0, bench::clock::now()) > 60) {
                bench::note("[%s] a bare client gave up after 60 s at sector %llu", k_name,
                            static_cast<unsigned long long>(done));
                break;
            }
        }
        secs = bench::seconds_between(t0, bench::clock::now());
    }
    ::shutdown(fd, SHUT_RDWR);
    if (disconnect)
        disconnect();
    ::close(fd);
    dev.stop();
    return done >= sectors && secs > 0 ? double(disk.size()) / secs / 1e6 : 0;
}

// MB/s the test device serves to a bare client: one thread that sends each
// message as soon as the previous one is answered, looking for each answer
// without sleeping. The device's own share of a sector's time; the viewer's
// path adds the rest.
double device_alone_mbps(const QString& out, const QByteArray& disk)
{
    return bare_client_mbps(out, disk, [](int fd) -> ask_fn {
        return [fd](CQUEUE_MESSAGE m, std::vector<uint8_t>* body) {
            const bool sent = full_send(fd, m.data, m.length);
            m.free_data();
            // Never sleeps: a sleeping client would pay a wake-up per sector.
            pollfd p{fd, POLLIN, 0};
            while (sent && ::poll(&p, 1, 0) == 0) {
            }
            uint8_t header[FRAME_HEADER_LEN];
            if (!sent || !full_recv(fd, header, sizeof header))
                return false;
            body->resize(frame_wire_len(header));
            return body->empty() || full_recv(fd, body->data(), body->size());
        };
    });
}

// MB/s the test device serves to the smallest client built like the viewer:
// one thread sends each message and waits for its answer, another receives
// the answers and hands each over, both looking without sleeping (yielding
// the core while they look, as there are more threads looking than cores).
// The cost of the hand-over between two threads that the viewer's design
// has, without anything else of the viewer.
double device_two_threads_mbps(const QString& out, const QByteArray& disk)
{
    std::atomic<uint64_t> answers{0};
    std::atomic<bool> stop{false};
    std::vector<uint8_t> last;  // the last answer's body, handed over by `answers`
    std::thread receiver;
    uint64_t seen = 0;
    auto connect = [&](int fd) -> ask_fn {
        receiver = std::thread([&, fd] {
            uint8_t header[FRAME_HEADER_LEN];
            std::vector<uint8_t> b;
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                while (::poll(&p, 1, 0) == 0) {
                    if (stop.load(std::memory_order_relaxed))
                        return;
                    sched_yield();
                }
                if (!full_recv(fd, header, sizeof header))
                    return;
                b.resize(frame_wire_len(header));
                if (!b.empty() && !full_recv(fd, b.data(), b.size()))
                    return;
                last = b;
                answers.fetch_add(1, std::memory_order_release);
            }
        });
        return [&, fd](CQUEUE_MESSAGE m, std::vector<uint8_t>* body) {
            const bool sent = full_send(fd, m.data, m.length);
            m.free_data();
            if (!sent)
                return false;
            while (answers.load(std::memory_order_acquire) == seen) {
                if (stop.load(std::memory_order_relaxed))
                    return false;
                sched_yield();
            }
            ++seen;
            *body = last;
            return true;
        };
    };
    return bare_client_mbps(out, disk, connect, [&] {
        stop.store(true);
        if (receiver.joinable())
            receiver.join();
    });
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

    QByteArray disk;
    {
        QFile f(image);
        if (f.open(QIODevice::ReadOnly))
            disk = f.readAll();
    }
    std::vector<double> mbps, bound, ratio, alone, two, bound2, ratio2, warn_only;
    CLogerManager* logger = CLogerManager::instance();
    logger->set_logger_display(0, false);
    logger->set_logger_path(0, QFile::encodeName(dir.filePath(QStringLiteral("log/"))).constData());
    logger->start();
    bool intact = true;
    for (int r = 0; r < rounds; ++r) {
        const double rtt = loopback_round_trip_ms(2000, true);
        const double rtt2 = loopback_round_trip_ms(2000, false);
        alone.push_back(device_alone_mbps(dir.filePath(QStringLiteral("alone.img")), disk));
        two.push_back(device_two_threads_mbps(dir.filePath(QStringLiteral("two.img")), disk));
        // The viewer logs at its default level, as a user runs it; the same
        // read with only warnings logged is the reference for what the log costs.
        double secs = 0;
        bool done = true;
        for (const int level : {LOG_LEVEL_WARN, LOG_LEVEL_INFO}) {
            logger->set_logger_level(0, level);
            if (!media->map(image.toStdString(), true)) {
                bench::note("[%s] the media dialog did not map the image", k_name);
                return 1;
            }
            const auto t0 = bench::clock::now();
            done = done && pump_until(
                               [&] {
                                   const auto s = dw.dev->media().status();
                                   return s.mapped && s.sectorsRead >= sectors && s.wholeDiskDone;
                               },
                               600000);
            secs = bench::seconds_between(t0, bench::clock::now());
            media->unmap();
            // The next read starts once the device has seen the unmap.
            pump_until([&] { return !dw.dev->media().status().mapped; }, 10000);
            if (level == LOG_LEVEL_WARN)
                warn_only.push_back(double(bytes) / secs / 1e6);
        }
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
        const double limit2 = 512.0 / (rtt2 / 1000.0) / 1e6;
        bench::note("[%s] round %d: %.2f MB/s in %.1f s; round trip %.1f us on one core, %.1f us on two; "
                    "bound %.2f / %.2f MB/s; device alone %.2f MB/s, with a two-thread client %.2f MB/s",
                    k_name, r + 1, v, secs, rtt * 1000.0, rtt2 * 1000.0, limit, limit2, alone.back(), two.back());
        mbps.push_back(v);
        bound.push_back(limit);
        ratio.push_back(v / limit);
        bound2.push_back(limit2);
        ratio2.push_back(v / limit2);
    }
    const double q = bench::median(ratio);
    bench::row(k_name,
               "MB/s (median of " + std::to_string(rounds) +
                   " rounds; reference: 512 B / loopback round trip, both ends on one core)",
               bench::fmt(bench::median(mbps), 2), bench::fmt(bench::median(bound), 2), bench::fmt(q, 2),
               ">= 0.70 of bound", bench::yes_no(q >= 0.7 && intact));
    bench::row(k_name, "the same MB/s; reference: round trip with each end on its own core, neither sleeping",
               bench::fmt(bench::median(mbps), 2), bench::fmt(bench::median(bound2), 2),
               bench::fmt(bench::median(ratio2), 2));
    const double dev_alone = bench::median(alone);
    bench::row(k_name, "the test device alone: MB/s to a bare one-thread client (reference: the one-core bound)",
               bench::fmt(dev_alone, 2), bench::fmt(bench::median(bound), 2),
               bench::fmt(dev_alone / bench::median(bound), 2));
    const double dev_two = bench::median(two);
    bench::row(k_name, "the same MB/s; reference: the test device to a bare two-thread client (one sends, one receives)",
               bench::fmt(bench::median(mbps), 2), bench::fmt(dev_two, 2),
               // A bare client that gave up reads as 0: no ratio then.
               dev_two > 0 ? bench::fmt(bench::median(mbps) / dev_two, 2) : std::string("-"));
    bench::row(k_name, "MB/s at the default log level (info); reference: only warnings logged (--log-level warn)",
               bench::fmt(bench::median(mbps), 2), bench::fmt(bench::median(warn_only), 2),
               bench::fmt(bench::median(mbps) / bench::median(warn_only), 2));
    bench::row(k_name, "image read back byte for byte", intact ? "identical" : "DIFFERENT", "", "", "identical",
               bench::yes_no(intact));
    return 0;
}
