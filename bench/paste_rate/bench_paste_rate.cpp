// Pasted text: characters per second typed on the remote computer. A real
// main window (offscreen) against the in-process test device, which answers
// every KM message at once over loopback; the key menu's "Paste Text" types a
// 200-character clipboard text (a press and a release report per character,
// a few queued ahead of the KM channel's answer wait) until the device has
// all its reports. Reference: the same reports queued all at once, the
// channel's own speed.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>

#include "common/bench_figures.h"
#include "common/devsim_window.h"
#include "common/h264video_input_peer.h"
#include "tools/key_mouse/c_xkb_typist.h"
#include "tools/key_mouse/km_messages.h"

namespace {

const char* const k_name = "paste text as keystrokes";

// 200 characters of ordinary text, capitals and punctuation included.
QString sample_text()
{
    const QString line = QStringLiteral("The quick brown fox jumps over the lazy dog, 42 times! ");
    QString t;
    while (t.size() < 200)
        t += line;
    return t.left(200);
}

}  // namespace

int main()
{
    const int rounds = bench::rounds(5);
    devsim_window dw(1);
    if (!dw.started || !dw.window) {
        bench::note("[%s] the test device or the window did not start", k_name);
        return 1;
    }
    H264Video& w = *dw.window;
    if (!pump_until([&] { return H264VideoInputPeer::writePrivilege(w) == 1; }, 10000)) {
        bench::note("[%s] no write privilege", k_name);
        return 1;
    }
    pump_for(200);
    QAction* paste = H264VideoInputPeer::menuEntry(w, QStringLiteral("_pasteText"));
    if (!paste) {
        bench::note("[%s] no Paste Text entry in the key menu", k_name);
        return 1;
    }
    const QString text = sample_text();
    QGuiApplication::clipboard()->setText(text);
    int skipped = 0;
    const auto reports = c_xkb_typist("us").reports(text.toStdU32String(), skipped);
    const size_t n = reports.size();

    std::vector<double> viewer_cps, reference_cps;
    for (int r = 0; r < rounds; ++r) {
        size_t mark = dw.km_count();
        auto t0 = bench::clock::now();
        paste->trigger();
        if (!dw.wait_km_count(mark, CMD_KM_KEYBOARD, n, 60000)) {
            bench::note("[%s] the pasted text did not arrive", k_name);
            return 1;
        }
        viewer_cps.push_back(text.size() / bench::seconds_between(t0, bench::clock::now()));
        pump_for(100);

        mark = dw.km_count();
        t0 = bench::clock::now();
        for (const auto& report : reports)
            w.sendKmMessage(CMD_KM_KEYBOARD, KM_KEYBOARD_LEN, report.data());
        if (!dw.wait_km_count(mark, CMD_KM_KEYBOARD, n, 60000)) {
            bench::note("[%s] the queued reports did not arrive", k_name);
            return 1;
        }
        reference_cps.push_back(text.size() / bench::seconds_between(t0, bench::clock::now()));
        pump_for(100);
    }
    const double v = bench::median(viewer_cps), ref = bench::median(reference_cps);
    bench::row(k_name,
               "characters/s, 200-character text, median of " + std::to_string(rounds) + " rounds (devsim, loopback)",
               bench::fmt(v), bench::fmt(ref), bench::fmt(v / ref, 2));
    return 0;
}
