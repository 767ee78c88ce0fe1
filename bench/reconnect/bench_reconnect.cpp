// How soon the picture is back after the video channel was lost: a real main
// window (offscreen) against the in-process test device, which drops the
// video connection and refuses new ones for 300 ms, ten times. Each time is
// taken from the device accepting the viewer's connection again to the first
// picture of the new stream drawn by the window (the GUI thread is polled
// every few milliseconds, so figures carry that much uncertainty).
#include "c_devsim_video.h"
#include "common/bench_figures.h"
#include "common/devsim_session.h"

namespace {

const char* const k_name = "reconnect";

}  // namespace

int main()
{
    const int n = bench::rounds(10);
    devsim_window dw(1, [](c_devsim_options& o) {
        o.width = 1280;
        o.height = 720;
        o.fps = 30;
    });
    if (!dw.started || !dw.window) {
        bench::note("[%s] the test device or the window did not start", k_name);
        return 1;
    }
    H264Video& w = *dw.window;
    w.show();
    if (!pump_until([&] { return H264VideoTestPeer::picturesShown(w) > 5; }, 20000)) {
        bench::note("[%s] no picture before the first loss", k_name);
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const int connections = dw.dev->video().connections();
        dw.dev->video().refuse_for(300);
        bench::clock::time_point accepted;
        if (!pump_until(
                [&] {
                    if (dw.dev->video().connections() <= connections)
                        return false;
                    accepted = bench::clock::now();
                    return true;
                },
                20000)) {
            bench::note("[%s] round %d: the viewer did not connect again", k_name, i);
            return 1;
        }
        const uint64_t shown = H264VideoTestPeer::picturesShown(w);
        if (!pump_until([&] { return H264VideoTestPeer::picturesShown(w) > shown; }, 20000)) {
            bench::note("[%s] round %d: no picture after the reconnect", k_name, i);
            return 1;
        }
        ms.push_back(bench::ms_between(accepted, bench::clock::now()));
        bench::note("[%s] round %d: %.1f ms", k_name, i, ms.back());
        pump_for(300);
    }
    bench::row(k_name, "device accepts again -> first picture shown, median of " + std::to_string(n) + ", ms",
               bench::fmt(bench::median(ms), 1));
    bench::row(k_name, "same, slowest, ms", bench::fmt(*std::max_element(ms.begin(), ms.end()), 1));
    return 0;
}
