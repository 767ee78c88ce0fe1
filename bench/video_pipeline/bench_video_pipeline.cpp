// Benchmark 1: the viewer's video path against bare decoding.
//
// A 1920 x 1080 stream (the test device's desktop, scrolling) is encoded
// once. Each round then
//   - decodes every access unit to BGRA with libavcodec and libswscale alone
//     (the reference, same thread settings as the viewer's decoder), and
//   - sends the same units as enciphered type-6 frames over loopback TCP, at
//     full speed, into a real main window (offscreen): receive thread, frame
//     cutting, deciphering, assembly, decoding, conversion, hand-over, and the
//     GUI thread rendering what it gets into a 1280 x 720 area.
// Rounds alternate which goes first. Then one paced run at the stream's 60
// pictures/s, one picture in flight at a time, times each picture from the
// moment its bytes are given to loopback TCP (the viewer's receive thread is
// idle then and has the last of them 0.1-0.2 ms later) to the moment the GUI
// thread has set it on the video label.
#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/bench_figures.h"
#include "common/bench_stream.h"
#include "common/gui_worker.h"
#include "common/label_probe.h"
#include "common/h264video_session.h"
#include "common/reference_decoder.h"
#include "common/thread_cpu.h"
#include "tools/decoder/c_conversion_buffer.h"
#include "tools/decoder/c_video_decoder.h"
#include "tools/decoder/c_video_pipeline.h"
#include "tools/record/c_stream_recorder.h"

namespace {

const char* const k_name = "1 video pipeline 1080p";
const int k_width = 1920;
const int k_height = 1080;
const int k_fps = 60;
const QSize k_area(1280, 720);

// A main window against a loopback device, showing at k_area.
struct viewer_session
{
    H264VideoSession s{1};
    std::vector<std::vector<uint8_t> > wire;
    std::shared_ptr<c_video_pipeline> pipeline;

    bool ready(const bench::test_stream& st)
    {
        if (!s.video_connected || !s.km_connected)
            return false;
        H264Video& w = *s.window;
        w.resize(w.ui.toolBar->width() + k_area.width(), k_area.height());
        w.show();
        std::vector<uint8_t> first;
        if (!H264VideoSession::read_frame(s.video, first))  // the user identification
            return false;
        pump_for(50);
        for (size_t i = 0; i < st.units.size(); ++i)
            wire.push_back(bench::wire_bytes(st.units[i], uint32_t(i), 60 * 1024, g_para.desEncode.key));
        pipeline = H264VideoTestPeer::videoPipeline(w);
        return pipeline != nullptr;
    }
};

struct throughput
{
    double fps = 0;
    int pictures = 0;
    int shown = 0;
    int outside = 0;  // pictures converted outside the conversion buffer's block
    std::map<std::string, double> cpu;  // seconds per thread name during the run
};

throughput reference_round(const bench::test_stream& st, int codec_threads, int convert_threads,
                           bench::reference_decoder::timing* t)
{
    throughput r;
    bench::reference_decoder ref(codec_threads, convert_threads);
    if (!ref.open())
        return r;
    const auto t0 = bench::clock::now();
    for (const auto& u : st.units)
        ref.decode(u.data(), int(u.size()), t);
    r.fps = double(ref.pictures()) / bench::seconds_between(t0, bench::clock::now());
    r.pictures = ref.pictures();
    return r;
}

// The reference at the stream's pace: each unit decoded and converted by the
// bare decoder 1/k_fps after the last, ms per picture. A core that has been
// idle for most of a frame's time decodes slower than one kept busy.
std::vector<double> paced_reference(const bench::test_stream& st, int codec_threads, int convert_threads)
{
    std::vector<double> ms;
    bench::reference_decoder ref(codec_threads, convert_threads);
    if (!ref.open())
        return ms;
    const auto period = std::chrono::microseconds(1000000 / k_fps);
    auto next = bench::clock::now();
    for (const auto& u : st.units) {
        std::this_thread::sleep_until(next);
        const auto t0 = bench::clock::now();
        next = t0 + period;
        const int before = ref.pictures();
        ref.decode(u.data(), int(u.size()));
        if (ref.pictures() > before)
            ms.push_back(bench::ms_between(t0, bench::clock::now()));
    }
    return ms;
}

throughput viewer_round(const bench::test_stream& st)
{
    throughput r;
    viewer_session v;
    if (!v.ready(st))
        return r;
    bench::label_probe probe(*v.s.window);
    const int n = int(v.wire.size());
    double secs = 0;
    bench::run_with_gui([&] {
        const auto cpu0 = bench::thread_cpu();
        const auto t0 = bench::clock::now();
        for (const auto& b : v.wire)
            if (!v.s.video.send_bytes(b))
                return;
        const auto deadline = t0 + std::chrono::seconds(120);
        while (int(v.pipeline->pictures_published()) < n && bench::clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        secs = bench::seconds_between(t0, bench::clock::now());
        r.cpu = bench::cpu_spent(cpu0, bench::thread_cpu());
    });
    pump_for(20);
    r.pictures = int(v.pipeline->pictures_published());
    r.fps = secs > 0 ? r.pictures / secs : 0;
    r.shown = probe.count();
    r.outside = v.pipeline->conversion_buffer().outside_count();
    return r;
}

// Latency of each picture shown, paced at k_fps with one picture in flight;
// beside it, in *handed_ms, the part up to the receive thread's hand-over
// (decoded and converted; -1 when not seen) and in *index the picture's
// number; in *deferred the pictures the window held back by its pacing of
// draws; in *early those converted while they were decoded.
std::vector<double> latency_run(const bench::test_stream& st, int* lost, std::vector<double>* handed_ms,
                                int* deferred, int* early, std::vector<int>* index)
{
    std::vector<double> ms;
    viewer_session v;
    if (!v.ready(st))
        return ms;
    bench::label_probe probe(*v.s.window);
    // The receive thread tells the GUI thread of each new picture right after
    // handing it over: timed there, in that thread. The same signal from the
    // GUI thread is a picture held back and drawn when the pacing allows.
    std::mutex handed_lock;
    std::vector<bench::clock::time_point> handed;
    *deferred = 0;
    QObject::connect(
        v.s.window.get(), &H264Video::signal_decode_one_frame, v.s.window.get(),
        [&] {
            const auto now = bench::clock::now();
            std::lock_guard<std::mutex> g(handed_lock);
            if (QThread::currentThread() == v.s.window->thread())
                ++*deferred;
            else
                handed.push_back(now);
        },
        Qt::DirectConnection);
    *lost = 0;
    bench::run_with_gui([&] {
        const auto period = std::chrono::microseconds(1000000 / k_fps);
        auto next = bench::clock::now();
        int shown = 0;
        for (const auto& b : v.wire) {
            std::this_thread::sleep_until(next);
            // Timed from the start of the send: the bytes reach the viewer's
            // receive thread 0.1-0.2 ms later, but the send itself often
            // returns only after the viewer has decoded them (the woken
            // receive thread takes this thread's core), so its end would
            // hide most of the latency.
            const auto sent = bench::clock::now();
            if (!v.s.video.send_bytes(b))
                return;
            next = sent + period;
            bench::clock::time_point at;
            if (probe.wait_beyond(shown, 2000, &at)) {
                ms.push_back(bench::ms_between(sent, at));
                index->push_back(int(&b - v.wire.data()));
                ++shown;
                std::lock_guard<std::mutex> g(handed_lock);
                handed_ms->push_back(handed.empty() ? -1.0 : bench::ms_between(sent, handed.back()));
            } else {
                ++*lost;
            }
            next = std::max(next, bench::clock::now());
        }
    });
    *early = int(v.pipeline->pictures_converted_early());
    return ms;
}

}  // namespace

int main()
{
    test_application();
    const char* env = std::getenv("BENCH_PICTURES");
    const int pictures = env && std::atoi(env) > 0 ? std::atoi(env) : 300;
    const int rounds = bench::rounds(5);

    bench::note("[%s] encoding %d pictures of %dx%d ...", k_name, pictures, k_width, k_height);
    const bench::test_stream st = bench::make_stream(k_width, k_height, pictures, k_fps, nullptr);
    if (int(st.units.size()) != pictures) {
        bench::note("the test encoder gave %zu units", st.units.size());
        return 1;
    }
    bench::note("[%s] stream: %zu units, %.1f KiB per unit on average", k_name, st.units.size(),
                double(st.unit_bytes()) / 1024.0 / double(st.units.size()));

    const int codec_threads = c_video_decoder::k_codec_threads;
    const int convert_threads = c_video_decoder::k_convert_threads;

    std::vector<double> ref_fps, view_fps, ratios, shown_fps;
    bench::reference_decoder::timing timing;
    for (int r = 0; r < rounds; ++r) {
        throughput a, b;
        if (r % 2 == 0) {
            a = reference_round(st, codec_threads, convert_threads, &timing);
            b = viewer_round(st);
        } else {
            b = viewer_round(st);
            a = reference_round(st, codec_threads, convert_threads, &timing);
        }
        bench::note("[%s] round %d: reference %.1f pictures/s, viewer %.1f pictures/s (%d of %d decoded, %d shown)",
                    k_name, r + 1, a.fps, b.fps, b.pictures, pictures, b.shown);
        std::string cpu;
        for (const auto& c : b.cpu)
            cpu += " " + c.first + " " + bench::fmt(1000.0 * c.second / pictures, 2);
        bench::note("[%s]   viewer CPU ms per picture by thread:%s; %d pictures outside the conversion block",
                    k_name, cpu.c_str(), b.outside);
        if (a.pictures != pictures || b.pictures != pictures) {
            bench::note("[%s] pictures missing: reference %d, viewer %d of %d", k_name, a.pictures, b.pictures,
                        pictures);
            return 1;
        }
        ref_fps.push_back(a.fps);
        view_fps.push_back(b.fps);
        ratios.push_back(b.fps / a.fps);
        shown_fps.push_back(b.fps * b.shown / b.pictures);
    }

    int lost = 0;
    int deferred = 0;
    int early = 0;
    std::vector<int> index;
    std::vector<double> handed_ms;
    const std::vector<double> lat = latency_run(st, &lost, &handed_ms, &deferred, &early, &index);
    std::vector<double> decoded;
    for (double d : handed_ms)
        if (d >= 0)
            decoded.push_back(d);
    const std::vector<double> paced = paced_reference(st, codec_threads, convert_threads);
    // Which pictures make the tail: a percentile of a few hundred pictures is
    // decided by a handful, so say which (k: key frame), how large, and
    // shown / handed over / the bare decode and convert of the same picture.
    {
        std::vector<size_t> order(lat.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lat[a] > lat[b]; });
        std::string slow;
        for (size_t i = 0; i < order.size() && i < 6; ++i) {
            const size_t n = size_t(index[order[i]]);
            const auto& u = st.units[n];
            slow += " #" + std::to_string(n) + (c_stream_recorder::inspect(u.data(), u.size()).idr ? "k" : "") +
                    " (" + std::to_string(u.size() / 1024) + " KiB) " + bench::fmt(lat[order[i]], 2) + "/" +
                    bench::fmt(handed_ms[order[i]], 2) + "/" +
                    (n < paced.size() ? bench::fmt(paced[n], 2) : std::string("-"));
        }
        bench::note("[%s] slowest pictures (ms):%s", k_name, slow.c_str());
    }
    const double ratio = bench::median(ratios);
    bench::row(k_name, "pictures/s at full speed (median of " + std::to_string(rounds) + " rounds)",
               bench::fmt(bench::median(view_fps)), bench::fmt(bench::median(ref_fps)), bench::fmt(ratio, 2),
               ">= 0.90 of reference", bench::yes_no(ratio >= 0.9));
    bench::row(k_name, "pictures/s shown on the label at full speed", bench::fmt(bench::median(shown_fps)));
    bench::row(k_name, "reference decode / convert per picture, median ms",
               bench::fmt(bench::median(timing.decode_ms), 2) + " / " + bench::fmt(bench::median(timing.convert_ms), 2));
    const double p50 = bench::percentile(lat, 50), p99 = bench::percentile(lat, 99);
    bench::row(k_name, "last byte received to picture on label at 60/s, median ms", bench::fmt(p50, 2), "", "",
               "< 8 ms", bench::yes_no(p50 < 8.0 && !lat.empty()));
    bench::row(k_name, "same, 99th percentile ms (" + std::to_string(lat.size()) + " pictures, " +
                           std::to_string(lost) + " not shown, " + std::to_string(deferred) +
                           " held back by the pacing of draws, " + std::to_string(early) +
                           " converted while decoded)",
               bench::fmt(p99, 2), "", "", "< 8 ms", bench::yes_no(p99 < 8.0 && !lat.empty() && lost == 0));
    bench::row(k_name,
               "of which last byte to picture decoded, converted and handed over, median / p99 ms (reference: "
               "bare decode and convert at 60/s)",
               bench::fmt(bench::percentile(decoded, 50), 2) + " / " + bench::fmt(bench::percentile(decoded, 99), 2),
               bench::fmt(bench::percentile(paced, 50), 2) + " / " + bench::fmt(bench::percentile(paced, 99), 2));
    return 0;
}
